#include "app/application.h"

int main(int argc, char **argv)
{
    return quorvel::app::runApplication(argc, argv);
}
