#include <cstring>

#include "yar/yar_time.h"

namespace yar {

yar_time_tick::yar_time_tick() : m_tick(int64_t(YAR_GetTimeTickUs())) {}

yar_time_tick::yar_time_tick(int64_t tick) : m_tick(tick) {}

yar_time_tick::~yar_time_tick() {
    m_tick = 0;
}

int64_t yar_time_tick::Refresh() {
    m_tick = int64_t(YAR_GetTimeTickUs());
    return m_tick;
}

yar_time_tick &yar_time_tick::operator+=(const yar_time_tick &o) {
    m_tick += o.m_tick;
    return *this;
}

yar_time_tick &yar_time_tick::operator-=(const yar_time_tick &o) {
    m_tick -= o.m_tick;
    return *this;
}

yar_time::yar_time() {
    SetSeconds(YAR_TimeSeconds());
}

yar_time::yar_time(int64_t seconds) {
    SetSeconds(seconds);
}

yar_time::~yar_time() {
    m_seconds = 0;
}

yar_time &yar_time::operator=(const yar_time &other) {
    if (this != &other)
        SetSeconds(other.m_seconds);
    return *this;
}

yar_time &yar_time::operator+=(const yar_time &other) {
    SetSeconds(m_seconds + other.m_seconds);
    return *this;
}

yar_time &yar_time::operator-=(const yar_time &other) {
    const int64_t left = m_seconds - other.m_seconds;
    SetSeconds(left < 0 ? 0 : left);
    return *this;
}

int64_t yar_time::Refresh() {
    SetSeconds(YAR_TimeSeconds());
    return m_seconds;
}

int64_t yar_time::Update() {
    return Refresh();
}

// The calendar follows the seconds; a negative count has none (all fields 0).
void yar_time::SetSeconds(int64_t seconds) {
    m_seconds = seconds;
    if (!YAR_LocalTimeSecondsEx(&m_tm, seconds))
        std::memset(&m_tm, 0, sizeof m_tm);
}

}  // namespace yar
