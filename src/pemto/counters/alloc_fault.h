// Allocation fault injection for the counter library, the event parser and the
// counter-set groups, so tests can reach their out-of-memory paths.
#pragma once

// Makes the n-th guarded allocation from now fail (n >= 1); 0 disarms.
void pemto_fail_allocation_after(int n);

// Called before each guarded allocation; true when it must fail.
bool pemto_allocation_fails();

// Guarded allocations left before the armed failure (0 when disarmed).
int pemto_allocations_left();
