#include "app/startup.h"

int main(int argc, char *argv[])
{
    return Tavrix::runApplication(argc, argv);
}
