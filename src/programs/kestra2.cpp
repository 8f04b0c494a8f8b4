#include "base/diagnostics.h"
#include "shell/app.h"

int main(int argc, char** argv)
{
    kestra::occupyStandardDescriptors();
    return kestra::shell::run(argc, argv, kestra::kestra2Config());
}
