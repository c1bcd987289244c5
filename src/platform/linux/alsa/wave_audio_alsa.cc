#include "platform/linux/alsa/wave_audio_alsa.h"

#include "platform/linux/alsa/alsa_device_names.h"
#include "platform/linux/alsa/alsa_failures.h"
#include "platform/linux/alsa/alsa_input.h"
#include "platform/linux/alsa/alsa_output.h"
#include "platform/linux/alsa/alsa_pcm.h"
#include "platform/linux/alsa/pcm_worker.h"
#include "platform/linux/alsa/stderr_catcher.h"

#include <atomic>
#include <utility>
#include <vector>

namespace {

// A worker that only runs the calls it is given.
struct call_worker final : pcm_worker {
    using pcm_worker::pcm_worker;
    wait_plan service() override { return {}; }
};

struct alsa_wave_audio final : wave_audio {
    explicit alsa_wave_audio(alsa_device_names names) : names_(std::move(names)) {
        silence_alsa_errors();
    }

    std::vector<wave_device_entry> list_devices() override {
        stderr_catcher catcher;
        return list_alsa_pcms(names_.output.c_str(), names_.input.c_str());
    }

    // Both directions are asked at once, under one deadline, so that a
    // sound server that does not answer costs the start-up one deadline;
    // a device that does not answer in time is unsuitable.
    wave_probe_result probe(const char* output_device, const char* input_device) override {
        stderr_catcher catcher;
        auto output = std::make_shared<call_worker>(alsa_direction::playback);
        auto input = std::make_shared<call_worker>(alsa_direction::capture);
        auto output_ok = std::make_shared<std::atomic<bool>>(false);
        auto input_ok = std::make_shared<std::atomic<bool>>(false);
        const bool output_asked = output->launch();
        const bool input_asked = input->launch();
        if (output_asked)
            output->submit([output_ok, name = output_name(output_device)] {
                output_ok->store(alsa_device_accepts(name.c_str(), alsa_direction::playback, 2));
            });
        if (input_asked)
            input->submit([input_ok, name = input_name(input_device)] {
                input_ok->store(alsa_device_accepts(name.c_str(), alsa_direction::capture, 1));
            });
        const auto deadline = pcm_worker::clock::now() + device_answer_deadline;
        wave_probe_result result;
        result.output_ok = output_asked && output->await(deadline) && output_ok->load();
        result.input_ok = input_asked && input->await(deadline) && input_ok->load();
        output->finish();
        input->finish();
        return result;
    }

    wave_error open_output(const char* device_name, std::unique_ptr<wave_output>& device, int answer_limit_ms,
                           int queue_ms) override {
        stderr_catcher catcher;
        after_failed_open();
        opened_output_ = output_name(device_name);
        return noted(open_alsa_output(opened_output_.c_str(), device, answer_limit_ms, queue_ms), catcher);
    }

    wave_error open_input(const char* device_name, std::unique_ptr<wave_input>& device,
                          int answer_limit_ms) override {
        stderr_catcher catcher;
        opened_input_ = input_name(device_name);
        return noted(open_alsa_input(opened_input_.c_str(), device, answer_limit_ms), catcher);
    }

    bool outputs_keep_clock() const override { return true; }

    std::string error_text(wave_error code) override {
        std::string text = alsa_failure_text(code, opened_output_, opened_input_);
        if (code == failed_code_ && !library_said_.empty()) text += " (the sound library said: " + library_said_ + ")";
        return text;
    }

private:
    std::string output_name(const char* device_name) const {
        return device_name != nullptr ? device_name : names_.output;
    }
    std::string input_name(const char* device_name) const {
        return device_name != nullptr ? device_name : names_.input;
    }

    // What the libraries printed on a failed open is kept for its message.
    wave_error noted(wave_error code, const stderr_catcher& catcher) {
        if (code != 0) {
            failed_code_ = code;
            library_said_ = catcher.last_line();
            open_failed_ = true;
        }
        return code;
    }

    // The output device is opened first, so none of ours is open here. A
    // thread left stuck in the library might still use the configuration.
    void after_failed_open() {
        if (!open_failed_) return;
        if (pcm_worker::stuck(alsa_direction::playback) > 0 || pcm_worker::stuck(alsa_direction::capture) > 0) return;
        open_failed_ = false;
        reread_alsa_configuration();
    }

    alsa_device_names names_;
    // The devices of the last openings, which the failures name.
    std::string opened_output_ = names_.output;
    std::string opened_input_ = names_.input;
    wave_error failed_code_ = 0;
    std::string library_said_;
    bool open_failed_ = false;
};

}  // namespace

std::unique_ptr<wave_audio> make_alsa_wave_audio_on(const alsa_device_names& names) {
    return std::make_unique<alsa_wave_audio>(names);
}

std::unique_ptr<wave_audio> make_alsa_wave_audio() {
    return make_alsa_wave_audio_on(alsa_device_names{});
}
