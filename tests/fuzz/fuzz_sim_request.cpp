// The simulated controller's request side: arbitrary bytes arrive in arbitrary pieces at the
// framer, and every frame it hands on goes to the request handler. Nothing may crash or read
// out of bounds, and every answer must be a well-formed frame: address, function, then either
// an exception code, a read answer whose byte count matches its data, or a write echo, all
// ending with a correct CRC.

#include "framecodec.h"
#include "simcontroller.h"
#include "simframer.h"

#include <cstdint>
#include <cstdlib>

namespace {

void checkAnswer(const QByteArray &answer)
{
    if (answer.isEmpty())
        return;
    const auto *p = reinterpret_cast<const uint8_t *>(answer.constData());
    const int n = answer.size();
    // A stray byte may be configured to precede answers; the harness never sets faults.
    if (n < 5 || !isFrameComplete(p, n))
        abort();
    const uint8_t func = p[1];
    if (func & 0x80) {
        if (n != 5)
            abort();
    } else if (func == 4) {
        if (n != 3 + p[2] + 2)
            abort();
    } else if (func == 16) {
        if (n != 8)
            abort();
    } else {
        abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static SimController controller;
    if (size < 1)
        return 0;
    // The first byte picks the controller's mode; the rest is the line, cut into pieces whose
    // sizes come from the bytes themselves.
    controller.setAnswerAll(data[0] & 1);
    controller.setBadRequestReply((data[0] & 2) ? SimController::BadRequestReply::Silence
                                                : SimController::BadRequestReply::Exception);
    controller.setDeviceCount(static_cast<uint8_t>(data[0] >> 2));
    SimFramer framer;
    auto now = SimFramer::Clock::time_point{};
    size_t pos = 1;
    while (pos < size) {
        const size_t piece = 1 + data[pos] % 16;
        const size_t n = std::min(piece, size - pos);
        for (const QByteArray &frame : framer.feed(data + pos, static_cast<int>(n), now))
            checkAnswer(controller.respond(frame));
        pos += n;
        now += std::chrono::milliseconds(data[pos - 1] % 4 == 0 ? 20 : 1);
        for (const QByteArray &frame : framer.expire(now))
            checkAnswer(controller.respond(frame));
    }
    controller.advance(static_cast<int>(size % 2000));
    return 0;
}
