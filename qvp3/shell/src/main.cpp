#include "platform/heap.h"
#include "qvp3_shell/app_wiring.h"
#include "qvp3_shell/startup.h"

int main(int argc, char** argv) {
    platform::keepFreedHeapForReuse();
    qvp3::appAddWindowExtension(qvp3::appWireMainWindow);
    return qvp3::qvp3Main(argc, argv);
}
