int upperValue();

int lowerValue()
{
#ifdef LOWER_CALLS_UPPER
    return upperValue() + 1;
#else
    return 1;
#endif
}
