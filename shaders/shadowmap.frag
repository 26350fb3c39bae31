#version 330 core
// No colour attachment: only the depth of the fragment is kept.
void main()
{
}
