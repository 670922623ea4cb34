// A journal read in a test: one that fails fails the test, instead of
// reading as "none".
#pragma once

#include "util/result.h"

#include <gtest/gtest.h>

#include <utility>

template <typename T>
T Read(TResult<T> read)
{
    EXPECT_TRUE(read.Ok()) << "the journal could not be read: " << read.Reason();
    return read.Ok() ? std::move(read).Value() : T {};
}
