8495******* Moscow mobile
123

12* second
1*3 third
1234 
55 a b c
Борт-* found
