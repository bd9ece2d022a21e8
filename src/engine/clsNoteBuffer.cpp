#include "engine/clsNoteBuffer.h"

#include "engine/modGeneral.h"

namespace sonavel {

clsNoteBuffer::clsNoteBuffer() {
    try {
        // One spare entry beyond the capacity, as the buffer has always had.
        Notes.assign(Capacity + 1, 0);
        NoOfNotes = 0;
    } catch (...) {
        PassOnFailure(MyErr, "clsNoteBuffer::Initialize()", std::current_exception());
    }
}

void clsNoteBuffer::AddNote(int16_t note) {
    try {
        if (NoOfNotes < Capacity) {
            Notes.at(NoOfNotes) = note;
            ++NoOfNotes;
        }
    } catch (...) {
        PassOnFailure(MyErr, "clsNoteBuffer::AddNote()", std::current_exception());
    }
}

void clsNoteBuffer::ClearBuffer() noexcept {
    NoOfNotes = 0;
}

} // namespace sonavel
