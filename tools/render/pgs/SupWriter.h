// Writes a Presentation Graphic Stream (.sup) from indexed subtitle images and their times.
#pragma once

#include "pgs/PgsTypes.h"

#include <memory>
#include <string>

namespace pelldrin::pgs {

class SupWriter {
  public:
    // Throws SupError when the frame size or rate cannot be carried by the stream.
    SupWriter(std::string path, StreamInfo info);
    ~SupWriter();
    SupWriter(const SupWriter&) = delete;
    SupWriter& operator=(const SupWriter&) = delete;

    // Events come in time order and do not overlap (one may start at the frame the previous
    // one ends). Throws SupError naming the event (its number and in-time) when it cannot be
    // written within the decoder's limits; the stream is then not written at all. Events
    // that follow one another closely share an epoch, so they are written a group at a time,
    // on a thread of the writer's own while the next group gathers: a fault found while a
    // group is written is thrown by a later Add or by Finish.
    void Add(const SupEvent& event);
    // Writes the rest and replaces the file atomically (temporary file + rename), after
    // checking the whole stream against the decoder model.
    void Finish();
    // Which pictures the decoder model let through; complete after Finish.
    const SupReport& Report() const;

  private:
    struct State;
    std::unique_ptr<State> state_;
};

} // namespace pelldrin::pgs
