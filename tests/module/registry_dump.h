// Shared by the registration tests: exact pictures of registry subtrees, and
// a registrar that fails on purpose.
#pragma once

#include <windows.h>

#include <string>

#include "module/registrar.h"

namespace korvane::test {

// Every key below root\path (itself included) with every value's name, type
// and bytes, read through the wide functions and sorted, so two pictures are
// equal exactly when the subtrees are. "<absent>" when the key is missing.
std::string DumpKey(HKEY root, const std::string& path);

// Fails the failAt-th change (counting from 1) with ERROR_ACCESS_DENIED and
// lets every other change through; counts the changes it was asked about.
class FailingRegistrar : public Registrar {
public:
    explicit FailingRegistrar(int failAt) : failAt_(failAt) {}
    int changes = 0;

protected:
    LONG BeforeChange() noexcept override {
        return ++changes == failAt_ ? ERROR_ACCESS_DENIED : ERROR_SUCCESS;
    }

private:
    int failAt_;
};

}  // namespace korvane::test
