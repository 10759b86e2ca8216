// SPDX-License-Identifier: GPL-3.0-or-later
#include "terminal/arguments.h"

#ifdef _WIN32
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#endif

namespace cdimage {

#ifdef _WIN32

namespace {

std::string utf8OfWide(const wchar_t* text) {
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1)
        return {};
    std::string result(std::size_t(size - 1), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text, -1, result.data(), size, nullptr, nullptr);
    return result;
}

} // namespace

std::vector<std::string> programArguments(int, char**) {
    int count = 0;
    wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    std::vector<std::string> arguments;
    for (int i = 1; wide && i < count; ++i)
        arguments.push_back(utf8OfWide(wide[i]));
    ::LocalFree(wide);
    return arguments;
}

void prepareStandardStreams() {
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    ::SetConsoleOutputCP(CP_UTF8);
    DWORD processes[2];
    DWORD mode = 0;
    const bool ownConsole = ::GetConsoleProcessList(processes, 2) == 1 &&
                            ::GetConsoleMode(::GetStdHandle(STD_INPUT_HANDLE), &mode);
    if (ownConsole)
        std::atexit([] {
            std::fflush(stdout);
            std::fputs("\nPress Enter to close this window.", stderr);
            std::fflush(stderr);
            wchar_t line[16];
            DWORD read = 0;
            ::ReadConsoleW(::GetStdHandle(STD_INPUT_HANDLE), line, 16, &read, nullptr);
        });
}

#else

std::vector<std::string> programArguments(int argc, char** argv) {
    return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
}

void prepareStandardStreams() {}

#endif

} // namespace cdimage
