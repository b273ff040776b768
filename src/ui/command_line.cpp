// The program's --help and --version texts.
#include "ui/command_line.h"

#include "kestrine_version.h"

namespace kestrine {

const char* ProgramInformation(std::string_view argument)
{
    if (argument == "--help") {
        return "usage: kestrine [FILE]\n"
               "       kestrine --help | --version\n"
               "\n"
               "Captures the IPv4 datagrams that pass one network interface and decodes them in a\n"
               "window. FILE, a pcap or pcapng capture file, is shown in the window at start.\n"
               "\n"
               "  --help     this text\n"
               "  --version  the version\n";
    }
    if (argument == "--version") return "kestrine " KESTRINE_VERSION_STRING "\n";
    return nullptr;
}

}  // namespace kestrine
