#include "HeadlessPlatform.h"

namespace launcher {

bool chooseHeadlessPlatform(int, char*[])
{
    return false;
}

} // namespace launcher
