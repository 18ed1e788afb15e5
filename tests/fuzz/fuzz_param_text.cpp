// The parameter encodings over arbitrary operator text: for every writable parameter the text
// is turned into its single write, its one-click list entry and a staged write. Nothing may
// crash, and the register data must stay within the parameter's register count: bytes past
// count * 2 stay zero, the staged count equals the parameter's, the list entry fits its 25
// registers.

#include "paramtable.h"
#include "registermirror.h"
#include "stagewrite.h"

#include <QString>

#include <cstdlib>

namespace {

void checkZeroPast(const uint8_t *bytes, int used, int size)
{
    for (int i = used; i < size; ++i)
        if (bytes[i] != 0)
            abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data),
                                           static_cast<int>(size));
    int count = 0;
    const ParamInfo *table = paramTable(&count);
    for (int i = 0; i < count; ++i) {
        const ParamInfo &info = table[i];
        ParamWriteData single;
        if (encodeSingleWrite(info.number, text, &single)) {
            if (single.start != info.number || single.count != info.regs || single.count == 0)
                abort();
            if (info.encoding == ParamEncoding::Text)
                checkZeroPast(single.bytes, 2 * single.count, kWriteListDataSize);
        }
        WriteListEntry entry;
        if (encodeListEntry(info.number, text, &entry)) {
            if (entry.reg != info.number || entry.count == 0 || entry.count > kWriteListMaxRegs)
                abort();
            checkZeroPast(entry.data, 2 * entry.count, kWriteListDataSize);
        }
        writePending = 0;
        linkOp = 0;
        if (stageParamWrite(info.number, text)) {
            const StagedWrite staged = takeStagedWrite();
            if (staged.start != info.number || staged.count != info.regs || staged.func != 16 ||
                writePending != 1 || linkOp != 1)
                abort();
            checkZeroPast(staged.data, 2 * staged.count, kWriteDataSize);
        }
    }
    return 0;
}
