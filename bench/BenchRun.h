#pragma once

#include <functional>
#include <vector>

// What every benchmark program does around its measurements: keep the event
// loop running for a while, and sum up a series of runs.
namespace BenchRun {

// Delivers events for ms, as a busy GUI thread would.
void runEventsFor(int ms);

// Delivers events for ms, sleeping 1 ms between rounds so that the machine
// is otherwise quiet (before a timed start).
void idleFor(int ms);

// Runs an event loop for ms that sleeps until an event comes, as an idle
// window's does: for measuring what idling costs, which idleFor's polling
// would swamp.
void sleepInEventLoop(int ms);

// Idles (as idleFor) until condition holds: false when timeoutMs passed first.
bool waitFor(const std::function<bool()>& condition, int timeoutMs);

double median(std::vector<double> values);

// "  what  min … median … mean … max … ms  (n runs)", what padded to width.
void printRuns(const char* what, std::vector<double> ms, int width = 44);

}  // namespace BenchRun
