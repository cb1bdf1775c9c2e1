#include "app/application.h"
#include "selftest/selftest.h"

int main(int argc, char **argv)
{
    return quorvel::app::runApplication(argc, argv, &quorvel::selftest::runSelfTest);
}
