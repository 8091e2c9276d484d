// Makes operator new fail on purpose, on one thread, to show what happens
// when memory runs out in the middle of a scan.
#pragma once

namespace korvane::test {

// While an object lives, the allocations of the thread that made it succeed
// `allowed` times and then throw std::bad_alloc, every one after that too.
class AllocationFailure {
public:
    explicit AllocationFailure(long allowed);
    ~AllocationFailure();
    AllocationFailure(const AllocationFailure&) = delete;
    AllocationFailure& operator=(const AllocationFailure&) = delete;
    // Whether an allocation was refused.
    bool Refused() const;
};

}  // namespace korvane::test
