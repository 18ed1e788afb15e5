// What the blocks hold (the program's pages read them so):
//   0, 1     stack summary (states, voltage, current, SOC, extreme cells and temperatures) and
//            15 rack parts of 9 words: racks 1..8 in block 0 cells 24..95, 9..15 in block 1
//   2        host record: live stack values, read-back cells of the Home page parameters,
//            three 20-character strings (serial number, hardware and software version) and
//            the clock in 2:93..98
//   3, 4, 5  read-back cells of the limit parameters 24..72
//   6        alarm bit words, set and cleared from time to time
//   7..21    15 packs: voltages, 52 cells in mV, 22 + 4 temperatures, balancing bits
//   22..85   stored fault records, newest first, date packed two fields per word
//   86       device information strings; 88, 89, 90 thermal, alarm and cooling states;
//   91       balancing parameters. 87 is never read and stays zero.
#include "simcontroller.h"

#include "framecodec.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kCapacityAh = 280.0;
constexpr int kCellsPerPack = 52;
constexpr int kTempsPerPack = 22;
constexpr int kClockParam = 74; // year-2000, month, day, hour, minute, second
constexpr int kClockBlock = 2;
constexpr int kClockReg = 93;
constexpr int kDeviceCountParam = 2;
constexpr int kHostIdParam = 84;
constexpr int kFactoryParam = 81;
constexpr int kRelayCloseParam = 82;
constexpr int kShutdownParam = 83;

// Where each parameter's value shows up again when the settings blocks are read: the read
// field beside the parameter's edit field. width > 1 for text and date-time parameters, which
// take that many consecutive registers. Factory values are raw register values.
struct ParamCell {
    uint8_t n;
    uint8_t block;
    uint8_t reg;
    uint8_t width;
    int16_t factory;
    const char *text; // factory text of a text parameter
};

constexpr ParamCell kParamCells[] = {
    // Home page, block 2.
    {1, 2, 16, 1, 15, nullptr},
    {2, 2, 17, 1, 1, nullptr},
    {8, 2, 18, 1, 280, nullptr},
    {9, 2, 19, 1, 100, nullptr},
    {10, 2, 20, 1, 50, nullptr},
    {11, 2, 21, 1, 3, nullptr},
    {12, 2, 22, 1, 10, nullptr},
    {15, 2, 23, 1, 1, nullptr},
    {16, 2, 24, 1, 0, nullptr},
    {17, 2, 25, 1, 30, nullptr},
    {18, 2, 26, 1, 45, nullptr},
    {19, 2, 27, 1, 5, nullptr},
    {20, 2, 28, 1, 55, nullptr},
    {23, 2, 29, 1, 0, nullptr},
    {14, 2, 51, 1, 1, nullptr},
    {3, 2, 55, 1, 1000, nullptr},
    {4, 2, 56, 1, 2000, nullptr},
    {5, 2, 57, 1, 10, nullptr},
    {6, 2, 58, 1, 20, nullptr},
    {7, 2, 59, 1, 30, nullptr},
    {13, 2, 60, 1, 1, nullptr},
    {21, 2, 61, 1, 0, nullptr},
    {22, 2, 62, 1, 0, nullptr},
    {73, 2, 63, 10, 0, "KLV-HV-ESS-0001"},
    {kClockParam, 2, 93, 6, 0, nullptr},
    {kHostIdParam, 2, 0, 1, 1, nullptr},
    // Settings page 1: cell voltage limits in mV (block 3). Over-voltage: warning below fault
    // below protection, each released a little lower; under-voltage the other way round.
    {24, 3, 0, 1, 3550, nullptr},
    {25, 3, 1, 1, 3500, nullptr},
    {26, 3, 2, 1, 3600, nullptr},
    {27, 3, 3, 1, 3550, nullptr},
    {28, 3, 4, 1, 3650, nullptr},
    {29, 3, 5, 1, 3600, nullptr},
    {30, 3, 6, 1, 2900, nullptr},
    {31, 3, 7, 1, 3000, nullptr},
    {32, 3, 8, 1, 2800, nullptr},
    {33, 3, 9, 1, 2900, nullptr},
    {34, 3, 10, 1, 2700, nullptr},
    {35, 3, 11, 1, 2800, nullptr},
    {36, 3, 12, 1, 300, nullptr},
    {37, 3, 13, 1, 400, nullptr},
    {38, 3, 14, 1, 500, nullptr},
    {39, 3, 15, 1, 5, nullptr},
    // Settings page 1: stack limits, 0.1 units (block 4). A rack is 15 packs of 52 cells in
    // series (780 cells, about 2590 V): its voltage limits are the cell limits times 780.
    {40, 4, 0, 1, 30, nullptr}, // in 2 s steps: 60 s
    {41, 4, 1, 1, 27690, nullptr},
    {42, 4, 2, 1, 22620, nullptr},
    {43, 4, 3, 1, 28080, nullptr},
    {44, 4, 4, 1, 21840, nullptr},
    {45, 4, 5, 1, 28470, nullptr},
    {46, 4, 6, 1, 21060, nullptr},
    {47, 4, 7, 1, 2100, nullptr},
    {48, 4, 8, 1, 1900, nullptr},
    {49, 4, 9, 1, 2300, nullptr},
    {50, 4, 10, 1, 2100, nullptr},
    {51, 4, 11, 1, 500, nullptr},
    {52, 4, 12, 1, 3, nullptr},
    {53, 4, 13, 1, 500, nullptr},
    {54, 4, 14, 1, 20, nullptr},
    {55, 4, 15, 1, 550, nullptr},
    {56, 4, 16, 1, -200, nullptr},
    {57, 4, 17, 1, 100, nullptr},
    // Settings page 1: delays, SOC limits and counts (block 5).
    {58, 5, 0, 1, 5, nullptr},
    {59, 5, 1, 1, 5, nullptr},
    {60, 5, 2, 1, 3, nullptr},
    {61, 5, 3, 1, 10, nullptr},
    {62, 5, 4, 1, 3, nullptr},
    {63, 5, 5, 1, 1, nullptr},
    {64, 5, 6, 1, 95, nullptr},
    {65, 5, 7, 1, 10, nullptr},
    {66, 5, 8, 1, 5, nullptr},
    {67, 5, 9, 1, 30, nullptr},
    {68, 5, 10, 1, 3, nullptr},
    {69, 5, 11, 1, 3, nullptr},
    {70, 5, 12, 1, 15, nullptr},
    {71, 5, 13, 1, 15, nullptr},
    {72, 5, 14, 1, 5, nullptr},
    // Settings page 1: device information (block 86).
    {75, 86, 1, 11, 0, "860123456789012"},
    {76, 86, 12, 1, 502, nullptr},
    {77, 86, 15, 12, 0, "iot.kelvane-energy.com"},
    {78, 86, 27, 10, 0, "KLV-STACK-0001"},
    {79, 86, 37, 3, 0, "CN1"},
    {80, 86, 40, 5, 0, "cmnet"},
    // Settings page 2: thermal management (block 88) and cooling unit (block 90).
    {85, 88, 0, 1, 1, nullptr},
    {86, 88, 1, 1, 4, nullptr},
    {87, 88, 2, 1, 0, nullptr},
    {88, 88, 3, 1, 28, nullptr}, // cooling starts above 28 and stops below 23 degrees
    {89, 88, 4, 1, 23, nullptr},
    {90, 88, 5, 1, 5, nullptr}, // heating starts below 5 and stops above 10 degrees
    {91, 88, 6, 1, 10, nullptr},
    {94, 88, 9, 1, 5, nullptr},
    {95, 88, 10, 1, 3, nullptr},
    {96, 88, 11, 1, 250, nullptr},
    {97, 88, 12, 1, 150, nullptr},
    {100, 88, 15, 1, 1, nullptr},
    {102, 90, 7, 1, 250, nullptr},
    {103, 90, 8, 1, 150, nullptr},
    {104, 90, 9, 1, 1, nullptr},
    // Settings page 1: cell balancing (block 91).
    {106, 91, 0, 1, 3400, nullptr},
    {107, 91, 1, 1, 30, nullptr},
    {108, 91, 2, 1, 10, nullptr},
};

const ParamCell *paramCell(int n) {
    for (const ParamCell &p : kParamCells) {
        if (p.n == n)
            return &p;
    }
    return nullptr;
}

uint16_t be16(const uint8_t *p) {
    return static_cast<uint16_t>((p[0] << 8) | p[1]);
}

void appendBe16(QByteArray &out, uint16_t v) {
    out.append(static_cast<char>(v >> 8));
    out.append(static_cast<char>(v & 0xFF));
}

void appendCrc(QByteArray &out) {
    const uint16_t crc =
        crc16(0xFFFF, reinterpret_cast<const uint8_t *>(out.constData()), out.size());
    out.append(static_cast<char>(crc & 0xFF));
    out.append(static_cast<char>(crc >> 8));
}

bool crcOk(const uint8_t *p, int len) {
    if (len < 4)
        return false;
    const uint16_t crc = crc16(0xFFFF, p, len - 2);
    return (crc & 0xFF) == p[len - 2] && (crc >> 8) == p[len - 1];
}

int clampInt(double v, int lo, int hi) {
    return static_cast<int>(std::lround(std::min<double>(hi, std::max<double>(lo, v))));
}

} // namespace

SimController::SimController(uint32_t seed) : rng_(seed) {
    const QDateTime now = QDateTime::currentDateTime();
    clockMs_ = QDateTime(now.date(), now.time(), Qt::UTC).toMSecsSinceEpoch();
    std::uniform_int_distribution<int> cell(-12, 12), temp(-3, 3), rack(-20, 20);
    for (auto &pack : cellOffset_)
        for (auto &o : pack)
            o = static_cast<int8_t>(cell(rng_));
    for (auto &pack : tempOffset_)
        for (auto &o : pack)
            o = static_cast<int8_t>(temp(rng_));
    for (auto &o : rackOffset_)
        o = static_cast<int8_t>(rack(rng_));
    applyFactoryDefaults();
    writeStaticCells();
    writeFaultRecords();
    updateLive();
}

void SimController::setAddress(uint8_t addr) {
    addr_ = addr;
    setCell(2, 0, addr);
}

void SimController::setDeviceCount(uint8_t n) {
    deviceCount_ = n;
    setCell(2, 17, n);
}

bool SimController::answersTo(uint8_t addr) const {
    if (addr == 0)
        return false;
    if (answerAll_)
        return addr <= deviceCount_;
    return addr == addr_;
}

int16_t SimController::reg(int block, int reg) const {
    if (block < 0 || block >= kBlocks || reg < 0 || reg >= kBlockRegs)
        return 0;
    return cells_[static_cast<size_t>(block * kBlockRegs + reg)];
}

void SimController::setReg(int block, int reg, int16_t value) {
    setCell(block, reg, value);
}

void SimController::setCell(int block, int reg, int value) {
    if (block < 0 || block >= kBlocks || reg < 0 || reg >= kBlockRegs)
        return;
    cells_[static_cast<size_t>(block * kBlockRegs + reg)] = static_cast<int16_t>(value);
}

void SimController::setString(int block, int reg, int regs, const char *text) {
    const int len = text ? static_cast<int>(std::strlen(text)) : 0;
    for (int i = 0; i < regs; ++i) {
        const uint8_t hi = 2 * i < len ? static_cast<uint8_t>(text[2 * i]) : 0;
        const uint8_t lo = 2 * i + 1 < len ? static_cast<uint8_t>(text[2 * i + 1]) : 0;
        setCell(block, reg + i, (hi << 8) | lo);
    }
}

void SimController::resetRegisters() {
    cells_.fill(0);
}

uint16_t SimController::writtenRegister(int n) const {
    return n >= 0 && n < kParamRegs ? written_[static_cast<size_t>(n)] : 0;
}

QDateTime SimController::civilClock() const {
    return QDateTime::fromMSecsSinceEpoch(clockMs_, Qt::UTC);
}

QDateTime SimController::clock() const {
    const QDateTime civil = civilClock();
    return QDateTime(civil.date(), civil.time());
}

void SimController::setClock(const QDateTime &when) {
    clockMs_ = QDateTime(when.date(), when.time(), Qt::UTC).toMSecsSinceEpoch();
    writeClockCells();
}

// ------------------------------------------------------------------------------------------
// Requests

QByteArray SimController::respond(const QByteArray &request) {
    return respond(reinterpret_cast<const uint8_t *>(request.constData()), request.size());
}

QByteArray SimController::respond(const uint8_t *req, int len) {
    // A frame too short to carry an address, a function and a CRC, or one whose CRC is wrong,
    // is line noise: never answered.
    if (req == nullptr || len < 4 || !crcOk(req, len))
        return {};
    const uint8_t addr = req[0];
    const uint8_t func = req[1];
    const bool broadcast = addr == 0;
    if (!broadcast && !answersTo(addr))
        return {};
    if (broadcast) {
        // Broadcast writes are carried out and never answered.
        if (func == 16 && !faults_.exception)
            handleWrite(addr, req, len, true);
        return {};
    }
    if (faults_.exception)
        return finish(exceptionAnswer(addr, func, IllegalDataAddress));
    switch (func) {
    case 4:
        return handleRead(addr, req, len);
    case 16:
        return handleWrite(addr, req, len, false);
    default:
        return badRequest(addr, func, IllegalFunction);
    }
}

QByteArray SimController::exceptionAnswer(uint8_t addr, uint8_t func, uint8_t code) const {
    QByteArray out;
    out.append(static_cast<char>(addr));
    out.append(static_cast<char>(func | 0x80));
    out.append(static_cast<char>(code));
    return out;
}

QByteArray SimController::badRequest(uint8_t addr, uint8_t func, uint8_t code) const {
    if (badReply_ == BadRequestReply::Silence)
        return {};
    return finish(exceptionAnswer(addr, func, code));
}

// Adds the CRC and applies the faults that change an answer's bytes.
QByteArray SimController::finish(QByteArray answer) const {
    if (faults_.wrongAddr > 0 && !answer.isEmpty())
        answer[0] = static_cast<char>(faults_.wrongAddr & 0xFF);
    appendCrc(answer);
    if (faults_.corruptCrc)
        answer[answer.size() - 1] = static_cast<char>(answer.at(answer.size() - 1) ^ 0x5A);
    if (faults_.strayByte)
        answer.prepend(static_cast<char>(0xA5));
    return answer;
}

QByteArray SimController::handleRead(uint8_t addr, const uint8_t *req, int len) {
    if (len != 8)
        return badRequest(addr, 4, IllegalDataValue);
    const int block = be16(req + 2);
    const int count = be16(req + 4);
    if (count < 1 || count > 125)
        return badRequest(addr, 4, IllegalDataValue);
    if (block >= kBlocks || count > kMaxReadRegs)
        return badRequest(addr, 4, IllegalDataAddress);

    int carried = count;
    if (faults_.oversizeTo > 0)
        carried = std::min(faults_.oversizeTo, 127); // up to 259 bytes: past a 256-byte buffer
    else if (faults_.shortBy > 0)
        carried = std::max(0, count - faults_.shortBy);

    QByteArray out;
    out.reserve(5 + 2 * carried);
    out.append(static_cast<char>(addr));
    out.append(static_cast<char>(4));
    out.append(static_cast<char>((2 * carried) & 0xFF));
    for (int i = 0; i < carried; ++i) {
        // An oversized answer runs on into the next block's cells (zeros past the last).
        const int index = block * kBlockRegs + i;
        int16_t v = index < kBlocks * kBlockRegs ? cells_[static_cast<size_t>(index)] : 0;
        if (distinct_ && answerAll_ && addr != addr_)
            v = distinctValue(addr, index, v);
        appendBe16(out, static_cast<uint16_t>(v));
    }
    ++readsServed_;
    return finish(out);
}

int16_t SimController::distinctValue(uint8_t addr, int index, int16_t v) const {
    const int k = addr; // apart from this controller by its address
    switch (index) {
    case 201: // SOC, %
        return static_cast<int16_t>(std::max(0, v - 3 * k));
    case 206: // total voltage, 0.1 V
        return static_cast<int16_t>(v - 7 * k);
    case 212: // stack power, kW
        return static_cast<int16_t>(v + k);
    case 600: // Level1 warnings: one bit on every third controller
        return static_cast<int16_t>(v | (k % 3 == 0 ? 1 << (k % 8) : 0));
    case 601: // Level2 faults: CellVolt_High on every fifth
        return static_cast<int16_t>(v | (k % 5 == 0 ? 0x0020 : 0));
    default:
        return v;
    }
}

QByteArray SimController::handleWrite(uint8_t addr, const uint8_t *req, int len, bool broadcast) {
    if (len < 9)
        return broadcast ? QByteArray() : badRequest(addr, 16, IllegalDataValue);
    const int start = be16(req + 2);
    const int count = be16(req + 4);
    const int byteCount = req[6];
    if (count < 1 || count > kMaxWriteRegs || byteCount != 2 * count || len != 9 + byteCount)
        return broadcast ? QByteArray() : badRequest(addr, 16, IllegalDataValue);
    if (start + count > kParamRegs)
        return broadcast ? QByteArray() : badRequest(addr, 16, IllegalDataAddress);

    uint16_t words[kMaxWriteRegs];
    for (int i = 0; i < count; ++i)
        words[i] = be16(req + 7 + 2 * i);
    if (!faults_.keepOldValues && !applyWrite(start, words, count))
        return broadcast ? QByteArray() : badRequest(addr, 16, IllegalDataValue);
    ++writesServed_;
    if (broadcast)
        return {};

    QByteArray out;
    out.append(static_cast<char>(addr));
    out.append(static_cast<char>(16));
    appendBe16(out, static_cast<uint16_t>(start));
    appendBe16(out, static_cast<uint16_t>(count));
    return finish(out);
}

bool SimController::applyWrite(int start, const uint16_t *words, int count) {
    // Walks the written registers field by field: a text parameter takes as many registers
    // as its field has, the date-time parameter its six, anything else one; the rest of a
    // longer write goes on to the following register numbers.
    struct Piece {
        int n;
        int first;
        int take;
    };
    Piece pieces[kMaxWriteRegs];
    int pieceCount = 0;
    for (int i = 0; i < count;) {
        const int n = start + i;
        const ParamCell *p = paramCell(n);
        const int width = p ? p->width : 1;
        const int take = std::min(width, count - i);
        pieces[pieceCount++] = {n, i, take};
        i += take;
    }

    // The clock takes its registers as one value: a write must leave a real date and time,
    // or it is refused as a whole.
    QDateTime newClock;
    for (int k = 0; k < pieceCount; ++k) {
        if (pieces[k].n != kClockParam)
            continue;
        const QDateTime now = civilClock();
        int f[6] = {now.date().year() - 2000, now.date().month(),  now.date().day(),
                    now.time().hour(),        now.time().minute(), now.time().second()};
        for (int j = 0; j < pieces[k].take; ++j)
            f[j] = words[pieces[k].first + j];
        const QDate date(2000 + f[0], f[1], f[2]);
        const QTime time(f[3], f[4], f[5]);
        if (f[0] > 99 || !date.isValid() || !time.isValid())
            return false;
        newClock = QDateTime(date, time, Qt::UTC);
    }

    for (int i = 0; i < count; ++i)
        written_[static_cast<size_t>(start + i)] = words[i];
    for (int k = 0; k < pieceCount; ++k) {
        const Piece &piece = pieces[k];
        const ParamCell *p = paramCell(piece.n);
        if (piece.n == kClockParam)
            continue;
        if (p && p->width > 1) {
            for (int j = 0; j < piece.take; ++j)
                setCell(p->block, p->reg + j, words[piece.first + j]);
        } else {
            applyParameter(piece.n, words[piece.first]);
        }
    }
    if (newClock.isValid())
        setClock(newClock);
    return true;
}

void SimController::applyParameter(int n, uint16_t value) {
    if (n == kFactoryParam || n == kRelayCloseParam || n == kShutdownParam) {
        applyCommand(n, value);
        return;
    }
    const ParamCell *p = paramCell(n);
    if (!p)
        return; // kept in written_ only: a register without a read-back cell
    setCell(p->block, p->reg, static_cast<int16_t>(value));
    if (n == kDeviceCountParam)
        deviceCount_ = static_cast<uint8_t>(value & 0xFF);
}

void SimController::applyCommand(int n, uint16_t value) {
    if (value == 0)
        return;
    if (n == kFactoryParam) {
        applyFactoryDefaults();
    } else if (n == kRelayCloseParam) {
        shutDown_ = false;
        relayClosed_ = true;
    } else if (n == kShutdownParam) {
        shutDown_ = true;
        relayClosed_ = false;
        current_ = 0.0;
    }
    if (!frozen_)
        updateLive();
}

void SimController::applyFactoryDefaults() {
    for (const ParamCell &p : kParamCells) {
        if (p.n == kClockParam)
            continue;
        if (p.text)
            setString(p.block, p.reg, p.width, p.text);
        else if (p.n == kDeviceCountParam)
            setCell(p.block, p.reg, deviceCount_);
        else
            setCell(p.block, p.reg, p.factory);
    }
    // The host ID goes back to 1 on a factory reset.
}

// ------------------------------------------------------------------------------------------
// Live model

void SimController::advance(int ms) {
    if (ms <= 0)
        return;
    clockMs_ += ms;
    if (frozen_)
        return;
    const double dt = ms / 1000.0;
    modelSec_ += dt;

    // Current swings between charge and discharge over a ten-minute cycle; the SOC follows it.
    if (!shutDown_) {
        current_ = 85.0 * std::sin(2.0 * kPi * modelSec_ / 600.0);
        if ((soc_ >= 97.0 && current_ > 0) || (soc_ <= 8.0 && current_ < 0))
            current_ *= 0.1;
    } else {
        current_ = 0.0;
    }
    soc_ =
        std::min(100.0, std::max(0.0, soc_ + current_ * dt / 3600.0 / kCapacityAh * 100.0 * 4.0));
    const double energy = std::abs(current_) * 2570.0 * dt / 3600.0 / 1000.0 * 10.0; // 0.1 kWh
    if (current_ > 0)
        chargeKWh_ += energy;
    else
        dischargeKWh_ += energy;
    ambient_ = 24.0 + 4.0 * std::sin(2.0 * kPi * modelSec_ / 1800.0);

    // Alarm bits set and clear from time to time.
    if (modelSec_ >= nextAlarmSec_) {
        std::uniform_int_distribution<int> bit(0, 15), word(0, 9), gap(15, 45);
        const int w = word(rng_) < 7 ? 0 : 1; // mostly level 1 warnings
        const uint16_t v = static_cast<uint16_t>(reg(6, w));
        setCell(6, w, v ? 0 : (1 << bit(rng_)));
        nextAlarmSec_ = modelSec_ + gap(rng_);
    }
    updateLive();
}

void SimController::writeStaticCells() {
    setCell(2, 0, addr_);
    setCell(2, 17, deviceCount_);
    setString(2, 73, 10, "HW-BCU-V2.3");
    setString(2, 83, 10, "SW-BMS-V1.2.07");
    setString(86, 13, 2, "V1.2");
    setCell(86, 0, 1); // Wifi connected
    writeClockCells();
}

void SimController::writeClockCells() {
    const QDateTime t = civilClock();
    setCell(kClockBlock, kClockReg + 0, t.date().year() - 2000);
    setCell(kClockBlock, kClockReg + 1, t.date().month());
    setCell(kClockBlock, kClockReg + 2, t.date().day());
    setCell(kClockBlock, kClockReg + 3, t.time().hour());
    setCell(kClockBlock, kClockReg + 4, t.time().minute());
    setCell(kClockBlock, kClockReg + 5, t.time().second());
}

void SimController::writeFaultRecords() {
    // Record 0 is the newest; each older one a few hours before it.
    std::uniform_int_distribution<int> hours(2, 30), cellMv(3300, 3650), lowMv(2750, 3250),
        num(1, kPackCount), cellNum(1, kCellsPerPack), hot(30, 58), cold(-5, 20), cur(-1500, 1500),
        socDist(5, 99), faultBit(0, 15), insul(800, 5000);
    QDateTime when = civilClock().addSecs(-3600);
    for (int k = 0; k < kFaultRecords; ++k) {
        const int b = 22 + k;
        when = when.addSecs(-3600 * hours(rng_) - 61 * k);
        const QDate d = when.date();
        const QTime t = when.time();
        setCell(b, 0, ((d.year() - 2000) << 8) | d.month());
        setCell(b, 1, (d.day() << 8) | t.hour());
        setCell(b, 2, (t.minute() << 8) | t.second());
        const int maxV = cellMv(rng_);
        const int minV = std::min(maxV - 5, lowMv(rng_));
        setCell(b, 3, maxV);
        setCell(b, 4, minV);
        setCell(b, 5, num(rng_));
        setCell(b, 6, num(rng_));
        setCell(b, 7, hot(rng_));
        setCell(b, 8, cold(rng_));
        setCell(b, 9, num(rng_));
        setCell(b, 10, num(rng_));
        setCell(b, 11, (maxV + minV) / 2 * kCellsPerPack * kPackCount / 100);
        setCell(b, 12, cur(rng_));
        setCell(b, 13, insul(rng_));
        setCell(b, 14, insul(rng_));
        setCell(b, 15, k % 3 == 0 ? 0 : 1);
        setCell(b, 16, socDist(rng_));
        setCell(b, 17, k % 5 == 0 ? 1 : 0);
        setCell(b, 18, cellNum(rng_));
        setCell(b, 19 + (k % 4), 1 << faultBit(rng_));
        setCell(b, 23, k % 7 == 0 ? 0x0101 : 0);
        setCell(b, 24, 0);
        setCell(b, 25, 0);
        setCell(b, 26, k % 11);
        setCell(b, 27, k % 13);
        setCell(b, 28, 0);
        setCell(b, 29, cellNum(rng_));
        setCell(b, 30, cellNum(rng_) % kTempsPerPack + 1);
        setCell(b, 31, cellNum(rng_) % kTempsPerPack + 1);
    }
}

void SimController::updateLive() {
    writeClockCells();

    const double tempBase = ambient_ + std::abs(current_) / 85.0 * 6.0;
    const int systemState = shutDown_ ? 0 : current_ > 2.0 ? 4 : current_ < -2.0 ? 5 : 0;
    const int chargeState = current_ > 2.0 ? 1 : current_ < -2.0 ? 2 : 0;
    const double cellBase = 3260.0 + soc_ * 0.9 + current_ * 0.12;

    // Packs (blocks 7..21): 52 cells, 22 temperatures, 4 valve temperatures each.
    int stackMaxMv = 0, stackMinMv = 99999, stackMaxT = -99, stackMinT = 999;
    int maxVPack = 1, minVPack = 1, maxVCell = 1, minVCell = 1;
    int maxTPack = 1, minTPack = 1;
    int packSum01V[kPackCount];
    for (int k = 0; k < kPackCount; ++k) {
        const int b = 7 + k;
        int sum = 0, maxMv = 0, minMv = 99999, maxN = 1, minN = 1;
        int mean = 0;
        for (int c = 0; c < kCellsPerPack; ++c) {
            const int mv = clampInt(cellBase + cellOffset_[k][c], 3200, 3400);
            setCell(b, 9 + c, mv);
            sum += mv;
            if (mv > maxMv) {
                maxMv = mv;
                maxN = c + 1;
            }
            if (mv < minMv) {
                minMv = mv;
                minN = c + 1;
            }
        }
        mean = sum / kCellsPerPack;
        int maxT = -99, minT = 999, maxTN = 1, minTN = 1;
        for (int t = 0; t < kTempsPerPack; ++t) {
            const int deg = clampInt(tempBase + tempOffset_[k][t], 15, 35);
            setCell(b, 61 + t, deg);
            if (deg > maxT) {
                maxT = deg;
                maxTN = t + 1;
            }
            if (deg < minT) {
                minT = deg;
                minTN = t + 1;
            }
        }
        for (int v = 0; v < 4; ++v)
            setCell(b, 83 + v, clampInt(tempBase - 2 + tempOffset_[k][22 + v], 15, 35));
        packSum01V[k] = sum / 100;
        setCell(b, 0, packSum01V[k]);
        setCell(b, 1, maxMv);
        setCell(b, 2, minMv);
        setCell(b, 3, minN);
        setCell(b, 4, maxN);
        setCell(b, 5, maxT);
        setCell(b, 6, minT);
        setCell(b, 7, maxTN);
        setCell(b, 8, minTN);
        // Cells well above the pack mean bleed while charging.
        for (int w = 0; w < 4; ++w) {
            int bits = 0;
            for (int c = 16 * w; c < std::min(16 * w + 16, kCellsPerPack); ++c)
                if (current_ > 2.0 && reg(b, 9 + c) > mean + 6)
                    bits |= 1 << (c - 16 * w);
            setCell(b, 87 + w, bits);
        }
        setCell(b, 91, 0);
        if (maxMv > stackMaxMv) {
            stackMaxMv = maxMv;
            maxVPack = k + 1;
            maxVCell = maxN;
        }
        if (minMv < stackMinMv) {
            stackMinMv = minMv;
            minVPack = k + 1;
            minVCell = minN;
        }
        if (maxT > stackMaxT) {
            stackMaxT = maxT;
            maxTPack = k + 1;
        }
        if (minT < stackMinT) {
            stackMinT = minT;
            minTPack = k + 1;
        }
    }
    int stackSum01V = 0;
    for (int v : packSum01V)
        stackSum01V += v;

    // Stack summary (block 0 cells 0..23).
    const int relay = relayClosed_ ? 1 : 0;
    const int soc = clampInt(soc_, 0, 100);
    setCell(0, 0, systemState);
    setCell(0, 1, relay);
    setCell(0, 2, kRackCount);
    setCell(0, 3, stackSum01V);
    setCell(0, 4, clampInt(current_ * 10.0, -32768, 32767));
    setCell(0, 5, soc);
    setCell(0, 6, 98);
    setCell(0, 7, 2000);
    setCell(0, 8, 1800);
    setCell(0, 9, 1);
    setCell(0, 10, 1);
    setCell(0, 11, maxVPack);
    setCell(0, 12, maxVCell);
    setCell(0, 13, stackMaxMv);
    setCell(0, 14, 1);
    setCell(0, 15, minVPack);
    setCell(0, 16, minVCell);
    setCell(0, 17, stackMinMv);
    setCell(0, 18, 1);
    setCell(0, 19, maxTPack);
    setCell(0, 20, stackMaxT);
    setCell(0, 21, 1);
    setCell(0, 22, minTPack);
    setCell(0, 23, stackMinT);

    // Rack parts: 9 words each, racks 1..8 in block 0 cells 24..95, racks 9..15 in block 1 from
    // cell 0 (block 0 cells 96..99 carry no rack).
    for (int r = 0; r < kRackCount; ++r) {
        const int b = r < 8 ? 0 : 1;
        const int c0 = r < 8 ? 24 + 9 * r : 9 * (r - 8);
        const int off = rackOffset_[r];
        setCell(b, c0 + 0, clampInt(soc_ + off / 10.0, 0, 100));
        setCell(b, c0 + 1, stackSum01V + off);
        setCell(b, c0 + 2, clampInt(current_ * 10.0 / kRackCount + off / 4.0, -32768, 32767));
        setCell(b, c0 + 3, std::min(3400, stackMaxMv - std::abs(off) / 4));
        setCell(b, c0 + 4, std::max(3200, stackMinMv + std::abs(off) / 4));
        setCell(b, c0 + 5, std::max(15, stackMaxT - std::abs(off) / 10));
        setCell(b, c0 + 6, std::min(35, stackMinT + std::abs(off) / 10));
        setCell(b, c0 + 7, systemState);
        setCell(b, c0 + 8, relay);
    }

    // Host record (block 2), beside the parameters' read-back cells.
    setCell(2, 1, soc);
    setCell(2, 2, 98);
    setCell(2, 3, kRackCount);
    setCell(2, 4, systemState);
    setCell(2, 5, chargeState);
    setCell(2, 6, stackSum01V);
    setCell(2, 7, clampInt(current_ * 10.0, -32768, 32767));
    setCell(2, 8, 2000);
    setCell(2, 9, 1800);
    setCell(2, 10, kRackCount);
    setCell(2, 11, kPackCount);
    setCell(2, 12, clampInt(current_ * stackSum01V / 10000.0, -32768, 32767)); // kW
    setCell(2, 13, relay);
    setCell(2, 14, 3200);
    setCell(2, 15, 0);
    setCell(2, 30, maxVPack);
    setCell(2, 31, maxVCell);
    setCell(2, 32, stackMaxMv);
    setCell(2, 33, minVPack);
    setCell(2, 34, minVCell);
    setCell(2, 35, stackMinMv);
    setCell(2, 36, maxTPack);
    setCell(2, 37, stackMaxT);
    setCell(2, 38, minTPack);
    setCell(2, 39, stackMinT);
    setCell(2, 40, clampInt(ambient_, -40, 80));
    const auto setU32 = [this](int reg, double v) {
        const uint32_t u = static_cast<uint32_t>(std::max(0.0, v));
        setCell(2, reg, static_cast<int16_t>(u >> 16));
        setCell(2, reg + 1, static_cast<int16_t>(u & 0xFFFF));
    };
    setU32(41, chargeKWh_ * 10.0);
    setU32(43, dischargeKWh_ * 10.0);
    setU32(45, std::fmod(chargeKWh_, 500.0) * 10.0);
    setU32(47, std::fmod(dischargeKWh_, 500.0) * 10.0);
    setU32(49, 1200.0 + dischargeKWh_ / 720.0);
    // Power limits: the current limits at the rack's voltage.
    setCell(2, 52, clampInt(200.0 * stackSum01V / 10000.0, 0, 32767));
    setCell(2, 53, clampInt(180.0 * stackSum01V / 10000.0, 0, 32767));
    setCell(2, 54, 0);
    setCell(2, 99, (stackMaxT + stackMinT) / 2);

    // Settings group B display-only cell, device information, alarm configuration, cooling
    // unit and thermal management states.
    setCell(4, 18, 150); // above the 10.0 degree warning
    setCell(89, 0, static_cast<uint8_t>(clampInt(ambient_, -40, 80)));
    setCell(89, 1, static_cast<uint8_t>(clampInt(45.0 + (ambient_ - 24.0), 0, 100)));
    setCell(89, 2, 3);
    setCell(89, 3, 0xAA);
    setCell(89, 4, reg(6, 0) ? 0x55 : 0xAA);
    setCell(89, 5, reg(6, 1) ? 2 : reg(6, 0) ? 1 : 0);
    setCell(89, 6, 0);
    for (int i = 7; i <= 11; ++i)
        setCell(89, i, i == 11 ? 2 : 0);
    setCell(89, 12, 0);
    setCell(89, 13, 0);
    const bool cooling = tempBase > 26.0;
    setCell(90, 0, clampInt(ambient_ * 10.0, -400, 800));
    setCell(90, 1, 455);
    setCell(90, 2, 0);
    setCell(90, 3, 0);
    setCell(90, 4, cooling ? 0 : 1);
    setCell(90, 5, 0);
    setCell(90, 6, 0);
    setCell(88, 16, 0);
    setCell(88, 17, cooling ? 0x0102 : 0x0000);
    setCell(88, 20, clampInt((tempBase - 6.0) * 10.0, -400, 800));
    setCell(88, 21, clampInt((tempBase - 3.0) * 10.0, -400, 800));
    setCell(88, 22, clampInt(ambient_ * 10.0, -400, 800));
    setCell(88, 24, clampInt((tempBase - 1.0) * 10.0, -400, 800));
    setCell(88, 26, cooling ? 2800 : 0);
    setCell(88, 27, cooling ? 1450 : 0);
    setCell(88, 28, 2900);
    setCell(88, 29, 0);
    setCell(88, 30, 32);
    setCell(88, 31, 28);
    for (int i = 33; i <= 37; ++i)
        setCell(88, i, 0);
    setCell(88, 38, 1);
    setCell(88, 39, 12);
    setCell(88, 40, 3);
    setCell(88, 41, 215);
}
