#pragma once

namespace sonavel {

class clsDrill;
class HistoryDb;

// The drill's schedule lives in the history, so that a restart goes on with
// it, and its error rates come from the recorded answers. A history that is
// not open leaves the drill as it is; a fault closes the history and is told
// once, and the drill goes on in memory.

// Replaces drill's schedule and rates with those of the history.
void LoadDrill(HistoryDb& history, clsDrill& drill);
// Writes drill's schedule over the one kept.
void SaveDrill(HistoryDb& history, const clsDrill& drill);

} // namespace sonavel
