#pragma once
// Public for the launcher alone, whose settings object is one of these objects and which builds on the
// public headers only: programs reading through the library have no use for it.
//
// The program's three process-wide objects: the launcher's settings, the archive manager and the error
// log. They are built before main in this order and finished after it in reverse, whatever the link
// order: each definition carries its start priority, ORVA_PROCESS_OBJECT (lower is built first).
// Static objects without one are built after all three and finished before them, so they may use any.
//
// Each of the three notes here when it is built and when it is finished. The notes sit in storage that
// is ready before any constructor runs; they are written only before and after main, by one thread.

#include <cstddef>

#define ORVA_PROCESS_OBJECT(start) __attribute__((init_priority(start)))

namespace orva {

enum class ProcessObject { settings, archiveManager, errorLog };

constexpr int settingsStart = 1001;
constexpr int archiveManagerStart = 1002;
constexpr int errorLogStart = 1003;

struct ProcessObjectNote {
    ProcessObject object;
    bool built; // else finished
};

void noteProcessObject(ProcessObject object, bool built);
// The notes in the order they were made; at most `capacity` of them are kept.
constexpr std::size_t processObjectNoteCapacity = 16;
std::size_t processObjectNotes(const ProcessObjectNote*& notes);

} // namespace orva
