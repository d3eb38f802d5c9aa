#pragma once

#include <vector>

class BenchHarness;

// A group of figures that one part of the benchmark measures, in the order they run.
// Each returns false when it could not measure (the reason is in the harness); the
// groups after a failed one that use the same station are skipped.
struct FigureGroup
{
    const char *name;
    bool (*measure)(BenchHarness &bench);
    bool ownStation; // starts a station of its own, so it runs whatever failed before
};

// CPU while waiting for a page, pausing, counting down, and while another application
// holds the turn, with the status-board queries of that wait.
bool measureIdleFigures(BenchHarness &bench);
// Own time per client over a run of small clients, and memory over many requests.
bool measureRunFigures(BenchHarness &bench);
// A work list of 10,000 clients: loading and showing it, and own time per client.
bool measureWorkListFigures(BenchHarness &bench);
// Time per client printing on a real CUPS queue, against page loads + the slower job +
// the pause + 100 ms of the station's own work.
bool measurePrintFigures(BenchHarness &bench);
// What encrypting the LIMS link costs per client: the same statements encrypted and in
// clear, on the CPU clock of the thread that runs them.
bool measureLinkFigures(BenchHarness &bench);
// What the register costs per client: the window's share, its own work with the disk's
// syncs, and the bytes it keeps per page.
bool measureRegisterFigures(BenchHarness &bench);
// The register window on a register of a year (200,000 rows): opening, scrolling, searching.
bool measureRegisterWindowFigures(BenchHarness &bench);

// Every group, in order. A new group is one line here (and its file).
inline const std::vector<FigureGroup> &figureGroups()
{
    static const std::vector<FigureGroup> groups = {
        { "idle", &measureIdleFigures, false },
        { "run", &measureRunFigures, false },
        { "worklist", &measureWorkListFigures, true },
        { "printing", &measurePrintFigures, true },
        { "link", &measureLinkFigures, true },
        { "register", &measureRegisterFigures, true },
        { "registerwindow", &measureRegisterWindowFigures, true },
    };
    return groups;
}
