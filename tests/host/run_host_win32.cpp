#include "run_host.h"

#include <windows.h>

namespace zef::test {

namespace {

// As the C runtime splits a command line back into arguments.
std::string quoted(const std::string& arg) {
    if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) {
        return arg;
    }
    std::string out = "\"";
    std::size_t backslashes = 0;
    for (const char c : arg) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        out.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
        backslashes = 0;
        out += c;
    }
    out.append(2 * backslashes, '\\');
    return out + "\"";
}

HANDLE inheritable(const std::string& path, DWORD access, DWORD disposition) {
    SECURITY_ATTRIBUTES attributes{sizeof attributes, nullptr, TRUE};
    return CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       &attributes, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

} // namespace

std::string nonAsciiNative() {
    char name[16] = {};
    WideCharToMultiByte(CP_ACP, 0, L"J\u00fcrgen", -1, name, sizeof name, nullptr, nullptr);
    return name;
}

unsigned long currentProcessId() {
    return GetCurrentProcessId();
}

HostRun runHost(const ScratchDir& dir, const std::vector<std::string>& args,
                const std::function<void()>& untilInterrupt) {
    const std::string outPath = dir.file("stdout");
    const std::string errPath = dir.file("stderr");
    std::string command = quoted(ZEF_HOST_EXE);
    for (const std::string& arg : args) {
        command += " " + quoted(arg);
    }
    if (untilInterrupt) {
        // Ctrl-C reaches the processes of one console: a console of our own
        // that zef-host inherits.
        FreeConsole();
        AllocConsole();
    }
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = inheritable("NUL", GENERIC_READ, OPEN_EXISTING);
    startup.hStdOutput = inheritable(outPath, GENERIC_WRITE, CREATE_ALWAYS);
    startup.hStdError = inheritable(errPath, GENERIC_WRITE, CREATE_ALWAYS);
    PROCESS_INFORMATION process{};
    HostRun run;
    const BOOL started = CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                        nullptr, &startup, &process);
    for (HANDLE handle : {startup.hStdInput, startup.hStdOutput, startup.hStdError}) {
        CloseHandle(handle);
    }
    if (started == 0) {
        ADD_FAILURE() << "cannot start " << command << " (error " << GetLastError() << ")";
        return run;
    }
    if (untilInterrupt) {
        untilInterrupt();
        SetConsoleCtrlHandler(nullptr, TRUE); // the test itself stays
        GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0);
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    run.exitCode = static_cast<int>(code);
    run.out = readText(outPath);
    run.err = readText(errPath);
    return run;
}

} // namespace zef::test
