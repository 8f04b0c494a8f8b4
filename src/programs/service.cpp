#include "base/diagnostics.h"
#include "service/startup/startup.h"

// kestra3-service, kestra2-service: the switch without windows. The build's
// constants come from the build's own configuration function.
int main(int argc, char** argv)
{
    kestra::occupyStandardDescriptors();
    return kestra::shell::runService(argc, argv, kestra::KESTRA_BUILD_CONFIG());
}
