#pragma once

// Keeps the machine from going to sleep, or idling into sleep, while tones
// sound. Where the system offers no way to (no bus, no login manager), hold
// does nothing and says nothing: the run goes on as before.
struct sleep_inhibitor {
    virtual ~sleep_inhibitor() = default;
    // Takes the inhibitor unless it is held already.
    virtual void hold() = 0;
    // Gives it back, if held.
    virtual void release() = 0;
};

inline sleep_inhibitor& none_sleep_inhibitor() {
    struct no_sleep_inhibitor final : sleep_inhibitor {
        void hold() override {}
        void release() override {}
    };
    static no_sleep_inhibitor none;
    return none;
}
