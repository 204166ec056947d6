#pragma once
// Only one launcher runs at a time: a process-wide named lock, tried ten times 100 ms apart.

// Takes the lock, retrying for about a second; false when another launcher holds it
// throughout. A lock that cannot even be created counts as taken. Once taken it is held until
// the process ends.
bool AcquireInstanceLock();
