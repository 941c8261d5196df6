// Batch reference for GetPrivateProfileStringA. Each line of QUERYFILE is
//   <ini file>\t<section>\t<key>\t<default>
// where "<null>" stands for a null pointer. One output line per query: the
// returned characters (all of them, embedded zeros included) escaped as
// \\ \r \n \t and \xHH for other bytes below 0x20 or from 0x7f.

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace {

std::string Escape(const char* p, DWORD n)
{
    std::string out;
    for (DWORD i = 0; i < n; ++i) {
        unsigned char c = static_cast<unsigned char>(p[i]);
        if (c == '\\') {
            out += "\\\\";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c < 0x20 || c >= 0x7f) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02X", c);
            out += buf;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

std::vector<std::string> Split(const std::string& line)
{
    std::vector<std::string> parts;
    std::string::size_type pos = 0;
    for (;;) {
        auto tab = line.find('\t', pos);
        if (tab == std::string::npos) {
            parts.push_back(line.substr(pos));
            return parts;
        }
        parts.push_back(line.substr(pos, tab - pos));
        pos = tab + 1;
    }
}

const char* Arg(const std::string& s)
{
    return s == "<null>" ? nullptr : s.c_str();
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::printf("usage: profdump QUERYFILE\n");
        return 1;
    }
    std::ifstream in(argv[1], std::ios::binary);
    if (!in) {
        std::printf("error=cannot open %s\n", argv[1]);
        return 1;
    }
    std::string line;
    while (std::getline(in, line)) {
        while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) {
            line.pop_back();
        }
        if (line.empty()) {
            continue;
        }
        std::vector<std::string> f = Split(line);
        while (f.size() < 4) {
            f.push_back("");
        }
        char buf[500];
        std::fill(buf, buf + sizeof buf, '\0');
        DWORD n = GetPrivateProfileStringA(Arg(f[1]), Arg(f[2]), Arg(f[3]), buf, sizeof buf,
                                           f[0].c_str());
        if (n > sizeof buf) {
            n = sizeof buf;
        }
        std::printf("%s\n", Escape(buf, n).c_str());
    }
    std::fflush(stdout);
    return 0;
}
