#include "progress/progress_line.h"

#include <cstdio>

#include "io/console.h"
#include "lines/names.h"

namespace CX::Progress {
namespace {

std::string Size(double bytes) {
    const char* units[] = {"B", "KiB", "MiB", "GiB", "TiB"};
    int unit = 0;
    while (bytes >= 1024 && unit < 4) {
        bytes /= 1024;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, unit == 0 ? "%.0f %s" : "%.1f %s", bytes, units[unit]);
    return text;
}

// The last columns of a name that does not fit, cut at a character's start.
std::string Tail(const std::string& name, std::size_t room) {
    if (name.size() <= room) {
        return name;
    }
    if (room <= 3) {
        return std::string(room, '.');
    }
    std::size_t from = name.size() - (room - 3);
    while (from < name.size() && (static_cast<unsigned char>(name[from]) & 0xC0) == 0x80) {
        ++from;
    }
    return "..." + name.substr(from);
}

}  // namespace

ProgressLine::ProgressLine(bool wanted) {
    if (!wanted) {
        return;
    }
    m_width = CX::IO::StandardErrorTerminalWidth();
    if (m_width == 0) {
        return;
    }
    m_start = std::chrono::steady_clock::now();
    CX::Lines::ShareStandardError(this);
    m_thread = std::thread([this] { Run(); });
}

ProgressLine::~ProgressLine() {
    if (!m_thread.joinable()) {
        return;
    }
    {
        std::lock_guard<std::mutex> lock(m_stopLock);
        m_stop = true;
    }
    m_stopSignal.notify_one();
    m_thread.join();
    std::lock_guard<std::mutex> lock(CX::Lines::StandardErrorLock());
    Erase();
    CX::Lines::ShareStandardError(nullptr);
}

void ProgressLine::Started(const char* pName) {
    std::lock_guard<std::mutex> lock(m_nameLock);
    m_name.assign(pName);
}

void ProgressLine::Run() {
    std::unique_lock<std::mutex> lock(m_stopLock);
    while (
        !m_stopSignal.wait_for(lock, std::chrono::milliseconds(100), [this] { return m_stop; })) {
        std::lock_guard<std::mutex> standardError(CX::Lines::StandardErrorLock());
        Draw();
    }
}

void ProgressLine::Draw() {
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - m_start).count();
    const std::uint64_t bytes = m_bytes.load(std::memory_order_relaxed);
    std::string line = std::to_string(m_files.load(std::memory_order_relaxed)) + " files, " +
                       Size(static_cast<double>(bytes)) + ", " +
                       Size(seconds > 0 ? static_cast<double>(bytes) / seconds : 0) + "/s  ";
    std::string name;
    {
        std::lock_guard<std::mutex> lock(m_nameLock);
        name = m_name;
    }
    std::string shown;
    CX::Lines::AppendEscaped(shown, name);  // a line feed in a name would break the line
    const std::size_t room = m_width - 1;   // the last column would wrap on some terminals
    if (line.size() >= room) {
        line.resize(room);
    } else {
        line += Tail(shown, room - line.size());
    }
    std::size_t columns = 0;
    for (const char c : line) {
        columns += (static_cast<unsigned char>(c) & 0xC0) != 0x80 ? 1 : 0;
    }
    std::string text = "\r" + line;
    if (columns < m_drawn) {
        text += std::string(m_drawn - columns, ' ');
        text += "\r" + line;
    }
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
    m_drawn = columns;
}

void ProgressLine::Erase() {
    if (m_drawn == 0) {
        return;
    }
    const std::string text = "\r" + std::string(m_drawn, ' ') + "\r";
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
    m_drawn = 0;
}

}  // namespace CX::Progress
