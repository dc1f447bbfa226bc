#include <unistd.h>

#include "Handles.h"

void TFileDescriptorTraits::Close(Type fd) noexcept {
    ::close(fd);
}
