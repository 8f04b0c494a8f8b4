#include "shell/app.h"

int main(int argc, char** argv)
{
    return kestra::shell::run(argc, argv, kestra::kestra2Config());
}
