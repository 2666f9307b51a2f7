program Records;
{ Records. }
type
  TPoint = record
    X, Y: Integer;
  end;
  TPerson = record
    Name: string;
    Age: Integer;
    Home: TPoint;
    Tags: array[1..2] of string;
  end;
  TPeople = array of TPerson;
var
  p, q: TPoint;
  a, b: TPerson;
  people: TPeople;
  i: Integer;

function MakePoint(x, y: Integer): TPoint;
begin
  Result.X := x;
  Result.Y := y;
end;

procedure Move(var pt: TPoint; dx, dy: Integer);
begin
  pt.X := pt.X + dx;
  pt.Y := pt.Y + dy;
end;

function Describe(const who: TPerson): string;
begin
  Result := who.Name + ' (' + IntToStr(who.Age) + ') at ' + IntToStr(who.Home.X) + ',' +
    IntToStr(who.Home.Y) + ' ' + who.Tags[1] + who.Tags[2];
end;

function Older(who: TPerson): TPerson;
begin
  who.Age := who.Age + 1;
  Result := who;
end;

begin
  p := MakePoint(3, 4);
  q := p;
  q.X := 30;
  Move(p, 1, 1);
  AddMsgDebug(IntToStr(p.X) + ',' + IntToStr(p.Y) + ' ' + IntToStr(q.X) + ',' + IntToStr(q.Y));
  a.Name := 'Ann';
  a.Age := 40;
  a.Home := p;
  a.Tags[1] := 'x';
  a.Tags[2] := 'y';
  b := a;
  b.Name := 'Bob';
  b.Tags[1] := 'z';
  AddMsgDebug(Describe(a));
  AddMsgDebug(Describe(b));
  b := Older(a);
  AddMsgDebug(IntToStr(a.Age) + ' ' + IntToStr(b.Age));
  SetLength(people, 3);
  for i := 0 to 2 do
  begin
    people[i].Name := 'P' + IntToStr(i);
    people[i].Age := 20 + i;
    Move(people[i].Home, i, -i);
  end;
  for i := 0 to 2 do
    AddMsgDebug(Describe(people[i]));
end.
