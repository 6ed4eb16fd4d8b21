#include "orva/ProcessObjects.h"

namespace orva {
namespace {

// Constant-initialised: valid before the first of the three is built and after the last is finished.
constinit ProcessObjectNote notes[processObjectNoteCapacity] = {};
constinit std::size_t noteCount = 0;

} // namespace

void noteProcessObject(ProcessObject object, bool built)
{
    if (noteCount < processObjectNoteCapacity)
        notes[noteCount++] = ProcessObjectNote{object, built};
}

std::size_t processObjectNotes(const ProcessObjectNote*& first)
{
    first = notes;
    return noteCount;
}

} // namespace orva
