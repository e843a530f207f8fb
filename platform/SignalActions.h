#pragma once
// Small wrappers over sigaction and the thread's signal mask, for the fatal end and the
// interrupt watch.

// Sets what `signal` does: `handler` (a function, SIG_DFL or SIG_IGN), with `flags`
// (SA_RESTART, ...) and nothing more blocked while a handler runs. True on success.
bool SetSignalAction(int signal, void (*handler)(int), int flags = 0);

// True when `signal` is ignored (SIG_IGN).
bool SignalIgnored(int signal);

// Blocks (SIG_BLOCK) or unblocks (SIG_UNBLOCK) one signal on the calling thread.
void MaskSignal(int how, int signal);
