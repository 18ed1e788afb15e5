#pragma once
// Parameter sets: a controller's parameters as read back on the Settings pages, kept in a JSON
// file, compared with what a controller holds and turned back into writes. Pure data and files;
// no widgets and no link.
//
// File (format version 1):
//   { "format": "vaduz-parameter-set", "formatVersion": 1, "program": "1.2.0",
//     "time": "2025-01-31T10:00:00.000+01:00", "port": "/dev/ttyUSB0", "address": 1,
//     "identity": { "serialNumber": ..., "softwareVersion": ..., "hardwareVersion": ...,
//                   "projectName": ... },
//     "parameters": [ { "number": 24, "caption": "Cell OV Warning", "unit": "V",
//                       "raw": [3550], "text": "3.550" }, ... ] }
// A reader takes any formatVersion up to its own and ignores members it does not know. The file
// is checked whole before anything is taken from it: "parameters" a list of at most what a
// controller has, each number known and there once, each raw value a register value of the
// parameter's count, numbers within their range and texts without control bytes.

#include "registermirror.h"

#include <QString>
#include <QStringList>
#include <QVector>

#include <cstdint>

constexpr int kParamSetFormatVersion = 1;

struct ParamValue {
    int number = 0;
    QString caption;
    QString unit;
    QVector<uint16_t> raw; // the register value(s) as read back
    QString text;          // as the Settings page shows it
};

struct ParamSet {
    int formatVersion = kParamSetFormatVersion;
    QString program;
    QString time; // ISO 8601 local time with offset
    QString port;
    int address = 0;
    QString serialNumber;
    QString softwareVersion;
    QString hardwareVersion;
    QString projectName;
    QVector<ParamValue> params; // in number order

    const ParamValue *find(int number) const;
};

// Every parameter with an edit field, in number order: the Home page's configuration
// (1-23, 73, 74, 84) and the two Settings pages.
const QVector<int> &paramSetNumbers();
// The blocks a parameter set is read from: the Home block (configuration, identity) and the
// Settings blocks.
const QVector<int> &paramSetBlocks();

// The controller's own address.
constexpr int kHostIdParam = 84;
// Whether a parameter is written back from a set: the device's own identity (IMEI and serial
// number) and its clock are kept in the file but never copied onto another controller; its own
// address (Host ID) only when the operator asks for it (withHostId).
bool paramIsRestored(int n, bool withHostId = false);

// Threshold pairs a set holds in the wrong order: "Cell OV Warning Release (V) 3.600 is not below
// Cell OV Warning (V) 3.550". Empty when every pair is in order (or not in the set).
QStringList paramOrderProblems(const ParamSet &set);

// The serial number the controller at address reported on this link; empty before its identity
// block has been read since the last Connect.
QString controllerSerialNumber(int address);
// The controller a command or write will reach, for a confirmation: "Controller at address 3,
// serial number SN123, on /dev/ttyUSB0" (the serial number only where it was read).
QString controllerTargetText(int address);

// A controller's identity strings as its mirror holds them (empty where not read).
struct ControllerIdentity {
    QString serialNumber;
    QString softwareVersion;
    QString hardwareVersion;
    QString projectName;
};
ControllerIdentity controllerIdentity(const RegisterMirror &mirror);

// The set as the register mirror holds it now, stamped with now, port and address.
ParamSet paramSetFromMirror(const QString &program, const QString &port, int address);
// Read-back text of parameter n from raw register value(s), as the Settings page shows it.
QString paramReadBackText(int n, const QVector<uint16_t> &raw);

QByteArray paramSetToJson(const ParamSet &set);
// False with the reason when the bytes are no parameter set this program can read.
bool paramSetFromJson(const QByteArray &json, ParamSet *out, QString *error);
// Written whole through QSaveFile: the old file stays until the new one is complete. False with
// the operating system's reason.
bool saveParamSet(const QString &path, const ParamSet &set, QString *error);
bool loadParamSet(const QString &path, ParamSet *out, QString *error);

// The text to put into parameter n's edit field so that its Set button (and the one-click list)
// writes exactly raw.
QString paramFieldText(int n, const QVector<uint16_t> &raw);
// The write of raw for parameter n as a write-list entry, checked like the operator's text
// (range included). False when the value is not accepted.
bool paramEntryFromRaw(int n, const QVector<uint16_t> &raw, WriteListEntry *out);

// One row of a comparison: a parameter of the file beside the controller's value.
struct ParamDifference {
    int number = 0;
    QString caption;
    QString unit;
    QString fileText;
    QString deviceText; // "no value" when the controller's set lacks it
    QVector<uint16_t> fileRaw;
    QVector<uint16_t> deviceRaw;
    bool differs = false;
};
QVector<ParamDifference> compareParamSets(const ParamSet &file, const ParamSet &device);
