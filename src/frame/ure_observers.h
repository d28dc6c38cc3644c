// The two observers a custom action attaches, process-wide singletons created on first
// use: one writes each report into the installer log, the other shows the error and
// question kinds in a message box (from the script through the installer, which knows
// whether anybody can answer it).
#pragma once

#include "frame/observer.h"

#include <cstdio>

class URELogObserver : public IObserver {
public:
    static URELogObserver* instance();
    static void destroy();

    int update(const UREBaseInfo& record) override;

    void setRawMode(bool on) { raw_ = on; }
    // Writes to `stream` instead of the installer log (null: the log).
    void setStreamMode(bool on) { streamMode_ = on; }
    void setStream(FILE* stream) { stream_ = stream; }
    void setTimeStampMode(bool on) { timeStamp_ = on; }
    // Three free text fields a host program may keep with the observer; reporting
    // does not read them.
    char* text(int index) { return index == 0 ? text1_ : index == 1 ? text2_ : text3_; }

private:
    URELogObserver() = default;
    void write(const char* line);

    bool raw_ = false;
    bool streamMode_ = false;
    bool timeStamp_ = false;
    char text1_[260] = {};
    char text2_[260] = {};
    char text3_[260] = {};
    FILE* stream_ = stderr;
};

class UREDisplayObserverWI : public IObserver {
public:
    static UREDisplayObserverWI* instance();
    static void destroy();

    int update(const UREBaseInfo& record) override;

private:
    UREDisplayObserverWI() = default;
};
