// WinMM under the wave-audio contract, through the private server that
// tests/windows/audio_wave_contract.sh starts for Wine's driver. The server
// is a process of the Linux side: it is taken away by writing the file
// TONQUEL_CONTRACT_KILL_REQUEST names, which the script watches for.

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/wave_audio_contract_test_support.h"
#include "platform/windows/wave_audio_winmm.h"

namespace {

class winmm_harness final : public wave_audio_harness {
public:
    explicit winmm_harness(std::string kill_request) : kill_request_(std::move(kill_request)) {}
    wave_audio& audio() override { return *service_; }
    void pass(int ms) override { Sleep(static_cast<DWORD>(ms)); }
    int64_t now_ms() override { return static_cast<int64_t>(GetTickCount64()); }
    bool kill_server() override {
        FILE* request = std::fopen(kill_request_.c_str(), "w");
        if (request == nullptr) return false;
        std::fclose(request);
        Sleep(500);  // the script looks every tenth of a second
        return true;
    }

private:
    std::unique_ptr<wave_audio> service_ = make_winmm_wave_audio();
    std::string kill_request_;
};

const register_wave_audio_harness winmm_through_a_server{
    {"winmm", [](std::string& why_not) -> std::unique_ptr<wave_audio_harness> {
         const char* kill_request = std::getenv("TONQUEL_CONTRACT_KILL_REQUEST");
         if (kill_request == nullptr) {
             why_not = "no sound server to try WinMM through (tests/windows/audio_wave_contract.sh starts one)";
             return nullptr;
         }
         // A path of the Linux side, as Wine's drive Z: holds it.
         const std::string path = kill_request[0] == '/' ? std::string("Z:") + kill_request : kill_request;
         return std::make_unique<winmm_harness>(path);
     }}};

}  // namespace
