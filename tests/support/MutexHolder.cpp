// A second process for the instance-guard tests: creates and owns the named mutex, signals that it holds it,
// and keeps it until told to let go (or its parent has given up on it).
//
//   support_mutex_holder MUTEX READY_EVENT RELEASE_EVENT
#include <windows.h>

#include "forms/Handles.h"

int main(int argc, char** argv) {
    if (argc != 4) return 2;
    UniqueMutex mutex(CreateMutexA(nullptr, TRUE, argv[1]));
    if (!mutex) return 3;
    UniqueHandle ready(OpenEventA(EVENT_MODIFY_STATE, FALSE, argv[2]));
    UniqueHandle release(OpenEventA(SYNCHRONIZE, FALSE, argv[3]));
    if (!ready || !release) return 4;
    SetEvent(ready.get());
    return WaitForSingleObject(release.get(), 60000) == WAIT_OBJECT_0 ? 0 : 5;
}
