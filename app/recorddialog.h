#pragma once
// The "Rec" dialog: the folder to record into and the files' separator (comma with decimal
// points, or semicolon with decimal commas).

#include "pagerecorder.h"

#include <QString>

class QWidget;

// Asks for the folder (starting at offer) and the format (starting at *format). False when
// the operator cancels; otherwise *folder and *format hold the choice.
bool askRecording(QWidget *parent, const QString &offer, QString *folder, RecordFormat *format);
