#pragma once

#include <cstdint>
#include <vector>

namespace sonavel {

class clsErrorHandler;

// The notes of one chord (or one harmonic interval), started together.
class clsNoteBuffer {
public:
    static constexpr int16_t Capacity = 20;

    clsNoteBuffer();

    std::vector<int16_t> Notes; // entries 0..NoOfNotes-1 are valid
    int16_t NoOfNotes = 0;
    clsErrorHandler* MyErr = nullptr;

    void AddNote(int16_t note); // a full buffer ignores further notes
    void ClearBuffer() noexcept;
};

} // namespace sonavel
