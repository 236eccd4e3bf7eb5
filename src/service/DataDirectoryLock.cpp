#include "DataDirectoryLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace kalder::service
{

DataDirectoryLock::DataDirectoryLock (const juce::File& dataDirectory)
{
    const auto path = dataDirectory.getChildFile ("service.lock").getFullPathName();
    descriptor = ::open (path.toRawUTF8(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (descriptor >= 0 && ::flock (descriptor, LOCK_EX | LOCK_NB) != 0)
    {
        ::close (descriptor);
        descriptor = -1;
    }
}

DataDirectoryLock::~DataDirectoryLock()
{
    if (descriptor >= 0)
        ::close (descriptor);
}

} // namespace kalder::service
