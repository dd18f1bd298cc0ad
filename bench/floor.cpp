// The floor the import and export are measured against: what the same work costs with
// nothing of ours in it. For an import: parsing the DASTENO file with pugixml alone, plus
// writing the bytes of the six tables the import produced. For an export: reading the
// bytes of SOLUC, plus saving with pugixml alone the document the export produced.
// Prints the seconds of each part, and of the preparation that is not part of the floor
// (reading what it will write), so the caller can time the whole program as it times
// ours and take the preparation out; peak memory is measured by the caller.

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include <pugixml.hpp>

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point from) { return std::chrono::duration<double>(Clock::now() - from).count(); }

std::string ReadAll(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
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

int ImportFloor(const std::filesystem::path& xml, const std::filesystem::path& tables, const std::filesystem::path& scratch)
{
    auto start = Clock::now();
    const char* names[] = {"ASIGNOMT", "PROFT", "AULAT", "GRUPOST", "DIASHORAST", "ASIGT"};
    std::vector<std::string> contents;
    for (const char* name : names)
        contents.push_back(ReadAll(tables / (std::string(name) + ".DBF")));
    double setup = Seconds(start);

    start = Clock::now();
    pugi::xml_document document;
    if (!document.load_file(xml.c_str())) {
        std::cerr << "cannot parse " << xml << "\n";
        return 1;
    }
    double parse = Seconds(start);
    start = Clock::now();
    for (std::size_t i = 0; i < contents.size(); ++i)
        WriteAndSync(scratch / (std::string(names[i]) + ".DBF"), contents[i]);
    double write = Seconds(start);
    std::cout << "setup " << setup << "\nparse " << parse << "\nwrite " << write << "\n";
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
    start = Clock::now();
    std::string bytes = ReadAll(solution);
    double read = Seconds(start);
    start = Clock::now();
    document.save_file((scratch / "floor.xml").c_str(), "", pugi::format_raw | pugi::format_no_declaration);
    double write = Seconds(start);
    std::cout << "setup " << setup << "\nread " << read << "\nwrite " << write << "\n";
    return bytes.empty() ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 4 && args[0] == "import")
        return ImportFloor(args[1], args[2], args[3]);
    if (args.size() == 4 && args[0] == "export")
        return ExportFloor(args[1], args[2], args[3]);
    std::cerr << "usage: pasarela-floor import FILE.xml TABLE_DIR SCRATCH_DIR\n"
                 "       pasarela-floor export SOLUC.DBF OUTPUT.xml SCRATCH_DIR\n";
    return 64;
}
