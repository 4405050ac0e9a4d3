#include "main/rundif.h"

int main(int argc, char **argv)
{
    return rundif_main(argc, argv);
}
