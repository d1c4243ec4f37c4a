// A signed library whose only import of its own is PlantedHelper.dll: loading
// it shows where the loader looks for a verified library's dependencies.
extern "C" __declspec(dllimport) int plantedHelperValue();

extern "C" __declspec(dllexport) int helperImporterValue()
{
    return plantedHelperValue();
}
