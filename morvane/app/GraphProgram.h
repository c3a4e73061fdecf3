#pragma once
// The external chart program, started without arguments after a run when graphs are on.

namespace morvane {

// Starts the chart program ("graf" beside this program, else on PATH) without waiting for it. Returns
// false when it is not installed or does not start; that is never an error of the run.
bool StartGraphProgram();

} // namespace morvane
