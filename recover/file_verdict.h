// What a recovered file holds of the recording or photo it stands for,
// apart from whether it reached the disk: a file written in full may still
// be mostly filler.
#pragma once

#include <QString>

enum class Verdict {
    Intact,   // everything the recording or photo held, and it checks out
    Partial,  // some of it was not found on the card, or does not check out
    Empty,    // none of it was found
    // A recording whose index was never written: its samples came back
    // with an index made anew, or, without one, as a raw stream.
    RebuiltIndex,
    NoIndex,
};

// "intact", "partial", "empty", "rebuilt index", "no index": the words the
// reports use.
QString verdict_name(Verdict verdict);
