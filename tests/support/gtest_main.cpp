#include <gmock/gmock.h>

#include <cstdio>

int main(int argc, char** argv)
{
    // Under Wine the output goes through a pipe: keep lines in order with stderr.
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    ::testing::InitGoogleMock(&argc, argv);
    return RUN_ALL_TESTS();
}
