// Windows half: no fork, nothing to set.
#include "filedriver/remote/ProcessForks.h"

namespace filedriver::remote {

void setForkHandlers(void (*)(), void (*)(), void (*)())
{
}

} // namespace filedriver::remote
