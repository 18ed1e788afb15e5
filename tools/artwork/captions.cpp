#include "captions.h"

namespace {

const Caption kCaptions[] = {
    {nullptr, nullptr, nullptr},
};

const PageText kPageTexts[] = {
    {FieldPage::Home, 0, 0, nullptr, false},
};

} // namespace

const Caption *captions() { return kCaptions; }
int captionCount() { return 0; }
const PageText *pageTexts() { return kPageTexts; }
int pageTextCount() { return 0; }

const char *commandFace(int param)
{
    switch (param) {
    case 81: return "Restore Factory";
    case 82: return "Forced Relay Close";
    case 83: return "System ShutDown";
    }
    return "";
}
