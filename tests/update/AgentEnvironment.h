#pragma once
// Steers the sandbox update agent of this process and reads what it was asked.

#include <windows.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace testsupport {

// Sets an environment variable for the life of the object.
class ScopedEnvironment {
public:
    ScopedEnvironment(const wchar_t* name, const std::wstring& value) : name_(name)
    {
        SetEnvironmentVariableW(name, value.c_str());
    }
    ~ScopedEnvironment() { SetEnvironmentVariableW(name_.c_str(), nullptr); }
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

private:
    std::wstring name_;
};

// Points the agent's call log at a fresh temporary file.
class AgentCallLog {
public:
    AgentCallLog() : path_(makePath()), environment_(L"ZU_AGENT_CALL_LOG", path_) {}
    ~AgentCallLog() { DeleteFileW(path_.c_str()); }

    std::vector<std::string> calls() const
    {
        std::vector<std::string> lines;
        FILE* file = _wfopen(path_.c_str(), L"rb");
        if (file == nullptr)
            return lines;
        char buffer[4096];
        while (std::fgets(buffer, sizeof buffer, file)) {
            std::string line(buffer);
            while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
                line.pop_back();
            lines.push_back(line);
        }
        std::fclose(file);
        return lines;
    }

private:
    static std::wstring makePath()
    {
        wchar_t folder[MAX_PATH];
        wchar_t file[MAX_PATH];
        GetTempPathW(MAX_PATH, folder);
        GetTempFileNameW(folder, L"zua", 0, file);
        DeleteFileW(file);
        return file;
    }
    std::wstring path_;
    ScopedEnvironment environment_;
};

} // namespace testsupport
