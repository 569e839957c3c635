#pragma once
// Ending the process at once, for a program that cannot wait for its threads.

namespace zelvik {

// A function EndProcessNow calls first: it writes output the program still holds back
// (null: none).
void SetEndProcessFlush(void (*flush)());

// Ends the process at once with the status, after that flush and flushing the standard
// streams, without waiting for any thread and without running destructors. For the end of a
// program that leaves a worker stuck in a database call that cannot be cancelled (it holds no
// file).
[[noreturn]] void EndProcessNow(int status);

}  // namespace zelvik
