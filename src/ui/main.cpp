// kestrine: the packet-capture program. Started without arguments.
#include "ui/main_window.h"

int main(int argc, char** argv) { return kestrine::RunKestrine(argc, argv); }
