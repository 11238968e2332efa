#pragma once

// Heap allocations made so far by this program (global operator new is replaced in
// AllocationCounter.cpp, linked into the benchmarks that count).
long long allocationCount();
