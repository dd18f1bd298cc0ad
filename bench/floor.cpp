// The floors the import and export are measured against: what the same work costs with
// nothing of ours in it. The streaming floor, the one the reader is held to: for an import,
// an expat walk over the DASTENO file that does nothing per event, plus writing the bytes
// of the six tables the import produced; for an export, the same walk over the chosen file,
// reading SOLUC in blocks, and writing the bytes of the file the export produced. The DOM
// floor, kept for comparison when pugixml is installed: parsing the file into pugixml's
// tree, or saving the export's document with it.
// Prints the seconds of each part, and of the preparation that is not part of the floor
// (reading what it will write), so the caller can time the whole program as it times
// ours and take the preparation out; peak memory is measured by the caller.

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <expat.h>
#ifdef PASARELA_FLOOR_DOM
#include <pugixml.hpp>
#endif

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point from) { return std::chrono::duration<double>(Clock::now() - from).count(); }

// CPU time (user + system) the program has used so far: what it spent preparing is taken
// out of its CPU time as well as its wall time, since it is none of the floor's work.
double CpuSeconds()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// The parts of a floor's time, one "name seconds" line each, as bench/run_benchmark.py reads them.
void PrintTimes(double setup, double setupCpu, const char* work, double workSeconds, double write)
{
    std::cout << "setup " << setup << "\nsetup_cpu " << setupCpu << "\n" << work << " " << workSeconds << "\nwrite "
              << write << "\n";
}

std::string ReadAll(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::string bytes(std::filesystem::file_size(path), '\0');
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return bytes;
}

void WriteAndSync(const std::filesystem::path& path, const std::string& bytes)
{
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0 || ::write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()) || ::fsync(fd) != 0) {
        std::perror(path.c_str());
        std::exit(1);
    }
    ::close(fd);
}

// An expat walk over the file in blocks, with no handler at all: the least a streaming
// reader can cost.
bool Walk(const std::filesystem::path& xml)
{
    XML_Parser parser = XML_ParserCreate(nullptr);
    std::ifstream in(xml, std::ios::binary);
    std::vector<char> block(std::size_t{1} << 18);
    bool ok = true;
    for (;;) {
        in.read(block.data(), static_cast<std::streamsize>(block.size()));
        const auto got = static_cast<int>(in.gcount());
        const bool last = got == 0;
        if (XML_Parse(parser, block.data(), got, last) != XML_STATUS_OK) {
            ok = false;
            break;
        }
        if (last)
            break;
    }
    XML_ParserFree(parser);
    return ok;
}

void ReadInBlocks(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::vector<char> block(std::size_t{1} << 18);
    while (in.read(block.data(), static_cast<std::streamsize>(block.size())) || in.gcount() > 0) {
    }
}

constexpr const char* kTableNames[] = {"ASIGNOMT", "PROFT", "AULAT", "GRUPOST", "DIASHORAST", "ASIGT"};

// The bytes of the six tables the import produced, in kTableNames' order.
std::vector<std::string> ReadTables(const std::filesystem::path& tables)
{
    std::vector<std::string> contents;
    for (const char* name : kTableNames)
        contents.push_back(ReadAll(tables / (std::string(name) + ".DBF")));
    return contents;
}

void WriteTables(const std::filesystem::path& scratch, const std::vector<std::string>& contents)
{
    for (std::size_t i = 0; i < contents.size(); ++i)
        WriteAndSync(scratch / (std::string(kTableNames[i]) + ".DBF"), contents[i]);
}

int StreamImportFloor(const std::filesystem::path& xml, const std::filesystem::path& tables,
                      const std::filesystem::path& scratch)
{
    auto start = Clock::now();
    const std::vector<std::string> contents = ReadTables(tables);
    double setup = Seconds(start);
    const double setupCpu = CpuSeconds();
    start = Clock::now();
    if (!Walk(xml)) {
        std::cerr << "cannot parse " << xml << "\n";
        return 1;
    }
    double parse = Seconds(start);
    start = Clock::now();
    WriteTables(scratch, contents);
    double write = Seconds(start);
    PrintTimes(setup, setupCpu, "parse", parse, write);
    return 0;
}

int StreamExportFloor(const std::filesystem::path& xml, const std::filesystem::path& solution,
                      const std::filesystem::path& output, const std::filesystem::path& scratch)
{
    auto start = Clock::now();
    const std::string bytes = ReadAll(output);
    double setup = Seconds(start);
    const double setupCpu = CpuSeconds();
    start = Clock::now();
    if (!Walk(xml)) {
        std::cerr << "cannot parse " << xml << "\n";
        return 1;
    }
    ReadInBlocks(solution);
    double read = Seconds(start);
    start = Clock::now();
    WriteAndSync(scratch / "floor.xml", bytes);
    double write = Seconds(start);
    PrintTimes(setup, setupCpu, "read", read, write);
    return 0;
}

#ifdef PASARELA_FLOOR_DOM
int ImportFloor(const std::filesystem::path& xml, const std::filesystem::path& tables, const std::filesystem::path& scratch)
{
    auto start = Clock::now();
    const std::vector<std::string> contents = ReadTables(tables);
    double setup = Seconds(start);
    const double setupCpu = CpuSeconds();

    start = Clock::now();
    pugi::xml_document document;
    if (!document.load_file(xml.c_str())) {
        std::cerr << "cannot parse " << xml << "\n";
        return 1;
    }
    double parse = Seconds(start);
    start = Clock::now();
    WriteTables(scratch, contents);
    double write = Seconds(start);
    PrintTimes(setup, setupCpu, "parse", parse, write);
    return 0;
}

int ExportFloor(const std::filesystem::path& solution, const std::filesystem::path& output,
                const std::filesystem::path& scratch)
{
    auto start = Clock::now();
    pugi::xml_document document;
    if (!document.load_file(output.c_str(), pugi::parse_default | pugi::parse_declaration | pugi::parse_comments)) {
        std::cerr << "cannot parse " << output << "\n";
        return 1;
    }
    double setup = Seconds(start);
    const double setupCpu = CpuSeconds();
    start = Clock::now();
    std::string bytes = ReadAll(solution);
    double read = Seconds(start);
    start = Clock::now();
    document.save_file((scratch / "floor.xml").c_str(), "", pugi::format_raw | pugi::format_no_declaration);
    double write = Seconds(start);
    PrintTimes(setup, setupCpu, "read", read, write);
    return bytes.empty() ? 1 : 0;
}
#endif

}  // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 4 && args[0] == "stream-import")
        return StreamImportFloor(args[1], args[2], args[3]);
    if (args.size() == 5 && args[0] == "stream-export")
        return StreamExportFloor(args[1], args[2], args[3], args[4]);
#ifdef PASARELA_FLOOR_DOM
    if (args.size() == 4 && args[0] == "import")
        return ImportFloor(args[1], args[2], args[3]);
    if (args.size() == 4 && args[0] == "export")
        return ExportFloor(args[1], args[2], args[3]);
#endif
    std::cerr << "usage: pasarela-floor stream-import FILE.xml TABLE_DIR SCRATCH_DIR\n"
                 "       pasarela-floor stream-export FILE.xml SOLUC.DBF OUTPUT.xml SCRATCH_DIR\n"
                 "       pasarela-floor import|export ...   (the DOM floor, when built with pugixml)\n";
    return 64;
}
