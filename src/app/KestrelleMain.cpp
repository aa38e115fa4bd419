#include "app/DesktopStart.h"

int main(int argc, char** argv)
{
    return DesktopStart::Run(argc, argv);
}
