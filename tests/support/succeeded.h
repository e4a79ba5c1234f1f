#pragma once
// ASSERT_TRUE(Succeeded(WriteX(...))): a Result asserted in place, its
// message shown when it failed.

#include "common/core/result.h"

#include <gtest/gtest.h>

template <typename T>::testing::AssertionResult Succeeded(const Result<T>& result) {
    if (result)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << result.error().toStdString();
}
