// The observer list of the engine and the observers that turn reports into output.
#pragma once

class UREBaseInfo;

class IObserver {
public:
    virtual ~IObserver() = default;
    virtual int update(const UREBaseInfo& record) = 0;
    void setEnabled(bool enabled) { enabled_ = enabled; }
    bool enabled() const { return enabled_; }

private:
    bool enabled_ = false;
};

class IObservable {
public:
    static constexpr int kMaxObservers = 10;

    // 0, 5009 when already attached, 5010 when the list is full.
    int attach(IObserver* observer);
    // Calls each observer in attach order; the first non-zero result, else 0.
    int notify(const UREBaseInfo& record);
    void detachAll() { count_ = 0; }
    int count() const { return count_; }

private:
    IObserver* observers_[kMaxObservers] = {};
    int count_ = 0;
};
