// The PGS stream fed on a thread of its own, so that its planning and coding overlap the work
// on the pictures after them.
#pragma once

#include "pgs/PgsTypes.h"
#include "pgs/SupWriter.h"

#include <memory>
#include <string>

namespace pelldrin::pgs {

class SupFeeder {
  public:
    // Writes the stream to path; throws SupError as SupWriter does.
    SupFeeder(std::string path, const StreamInfo& info);
    ~SupFeeder();
    SupFeeder(const SupFeeder&) = delete;
    SupFeeder& operator=(const SupFeeder&) = delete;

    // Queues an event (in time order), waiting while enough events wait; rethrows the stream's
    // failure, naming the file.
    void Add(SupEvent&& event);
    // Waits until every event is in the stream and completes it; rethrows the stream's
    // failure, naming the file.
    void Finish();
    // What the decoder model let through; complete after Finish.
    const SupReport& Report() const;

  private:
    struct State;
    std::unique_ptr<State> state_;
};

} // namespace pelldrin::pgs
