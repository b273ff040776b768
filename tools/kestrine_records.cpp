// kestrine-records DIR FILE...: writes every IPv4 datagram of the capture files to DIR as
// one file each (the bytes of its record), for seeding the decoder fuzzer.
#include <cstdio>
#include <string>

#include "capture_file.h"

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: kestrine-records DIR FILE...\n");
        return 2;
    }
    const std::string directory = argv[1];
    int written = 0;
    for (int i = 2; i < argc; ++i) {
        std::string error;
        kestrine::ForEachDatagram(
            argv[i],
            [&](const kestrine::PacketRecord& record, int32_t) {
                const std::string path = directory + "/record-" + std::to_string(written++);
                if (FILE* f = std::fopen(path.c_str(), "wb")) {
                    std::fwrite(record.data, 1, static_cast<size_t>(record.length), f);
                    std::fclose(f);
                }
            },
            &error);
    }
    std::printf("%d records\n", written);
    return 0;
}
