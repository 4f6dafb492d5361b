int lowerValue();

int upperValue()
{
    return lowerValue() + 1;
}
