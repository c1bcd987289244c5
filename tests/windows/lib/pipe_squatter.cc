// A program that takes a pipe's name before a run can: pipe_squatter NAME
// makes the first instance of \\.\pipe\NAME, open to everyone, and answers
// each client with a made-up status, after trying to act as the client: it
// prints "impersonation LEVEL" (0 anonymous, 1 identification, 2
// impersonation, 3 delegation) or "impersonation failed", one line a client.

#include <windows.h>

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    const std::string name = std::string("\\\\.\\pipe\\") + argv[1];
    SECURITY_DESCRIPTOR open_to_all;
    InitializeSecurityDescriptor(&open_to_all, SECURITY_DESCRIPTOR_REVISION);
    SetSecurityDescriptorDacl(&open_to_all, TRUE, nullptr, FALSE);
    SECURITY_ATTRIBUTES attributes{sizeof attributes, &open_to_all, FALSE};
    for (int client = 0;; ++client) {
        const DWORD first = client == 0 ? FILE_FLAG_FIRST_PIPE_INSTANCE : 0;
        HANDLE pipe = CreateNamedPipeA(name.c_str(), PIPE_ACCESS_DUPLEX | first, PIPE_TYPE_BYTE | PIPE_WAIT,
                                       PIPE_UNLIMITED_INSTANCES, 4096, 4096, 0, &attributes);
        if (pipe == INVALID_HANDLE_VALUE) return 1;
        if (client == 0) {
            printf("ready\n");
            fflush(stdout);
        }
        if (!ConnectNamedPipe(pipe, nullptr) && GetLastError() != ERROR_PIPE_CONNECTED) return 1;
        char request[512];
        DWORD got = 0;
        ReadFile(pipe, request, sizeof request, &got, nullptr);
        HANDLE token = nullptr;
        SECURITY_IMPERSONATION_LEVEL level{};
        DWORD size = 0;
        if (ImpersonateNamedPipeClient(pipe) && OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &token) &&
            GetTokenInformation(token, TokenImpersonationLevel, &level, sizeof level, &size))
            printf("impersonation %d\n", static_cast<int>(level));
        else
            printf("impersonation failed\n");
        fflush(stdout);
        if (token != nullptr) CloseHandle(token);
        RevertToSelf();
        const char answer[] = "{\"request_id\":1,\"error\":\"success\",\"data\":{\"state\":\"squatted\"}}\n";
        DWORD written = 0;
        WriteFile(pipe, answer, sizeof answer - 1, &written, nullptr);
        FlushFileBuffers(pipe);
        DisconnectNamedPipe(pipe);
        CloseHandle(pipe);
    }
}
