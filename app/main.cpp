#include <iostream>

int main()
{
    std::cout << "ScanBench 1.23.38" << std::endl;
    return 0;
}
