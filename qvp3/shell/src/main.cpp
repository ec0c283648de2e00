#include "qvp3_shell/startup.h"

int main(int argc, char** argv) { return qvp3::qvp3Main(argc, argv); }
