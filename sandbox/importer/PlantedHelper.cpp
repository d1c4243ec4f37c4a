// A dependency that only a careless load would find: it is placed in the
// current directory by the tests, never beside the library that imports it.
extern "C" __declspec(dllexport) int plantedHelperValue()
{
    return 42;
}
